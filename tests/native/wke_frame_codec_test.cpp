// WebSocket framing: the client frames sent, and the server frames read back in any slicing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame_codec.h"

using namespace wkechr;
using Result = FrameDecoder::Result;
using Fault = FrameDecoder::Fault;

namespace {

// A server frame with every header bit under the test's control.
std::string Frame(uint8_t opcode, const std::string& payload, bool fin = true, bool masked = false, uint8_t rsv = 0) {
    std::string frame;
    frame += static_cast<char>((fin ? 0x80 : 0) | (rsv << 4) | opcode);
    const uint64_t size = payload.size();
    const char maskBit = masked ? char(0x80) : char(0);
    if (size < 126) {
        frame += static_cast<char>(maskBit | size);
    } else if (size <= 0xFFFF) {
        frame += static_cast<char>(maskBit | 126);
        frame += static_cast<char>(size >> 8);
        frame += static_cast<char>(size & 0xFF);
    } else {
        frame += static_cast<char>(maskBit | 127);
        for (int i = 7; i >= 0; --i) frame += static_cast<char>((size >> (8 * i)) & 0xFF);
    }
    if (masked) frame += std::string(4, '\0');  // a zero mask leaves the payload as it is
    return frame + payload;
}

// Only a 64-bit length header, for lengths no test should allocate.
std::string LongHeader(uint64_t length) {
    std::string frame = "\x81\x7F";
    for (int i = 7; i >= 0; --i) frame += static_cast<char>((length >> (8 * i)) & 0xFF);
    return frame;
}

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

struct Event {
    Result result;
    std::string payload;
    uint8_t opcode = 0;
    bool operator==(const Event& other) const {
        return result == other.result && payload == other.payload && opcode == other.opcode;
    }
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << "{" << static_cast<int>(e.result) << ", " << e.payload.size() << " bytes \""
               << e.payload.substr(0, 16) << "\", op " << int(e.opcode) << "}";
}

Event Msg(const std::string& text, uint8_t opcode = kWsText) { return {Result::Message, text, opcode}; }
Event PingOf(const std::string& data) { return {Result::Ping, data}; }
Event CloseOf(const std::string& data) { return {Result::Close, data}; }
const Event kError{Result::Error, {}};

constexpr uint64_t kLimit = 100000;

// Feeds the bytes in the given chunks, draining events after each; stops at a close or an error.
std::vector<Event> Decode(const std::string& bytes, const std::vector<size_t>& cuts, Fault* fault = nullptr) {
    FrameDecoder decoder(kLimit);
    std::vector<Event> events;
    size_t at = 0;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        const size_t to = i < cuts.size() ? cuts[i] : bytes.size();
        decoder.Feed(std::string_view(bytes).substr(at, to - at));
        at = to;
        for (Result r = decoder.Next(); r != Result::NeedMore; r = decoder.Next()) {
            const uint8_t opcode = r == Result::Message ? decoder.MessageOpcode() : 0;
            events.push_back({r, std::string(decoder.Payload()), opcode});
            if (r == Result::Close || r == Result::Error) {
                if (fault) *fault = decoder.LastFault();
                EXPECT_EQ(decoder.Next(), r) << "a close or an error is final";
                return events;
            }
        }
    }
    return events;
}

}  // namespace

TEST(FrameDecoder, MessagesControlFramesAndProtocolErrorsInAnySlicing) {
    const std::string big16 = Pattern(65535), big64 = Pattern(65536);
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<Event> expected;
        Fault fault = Fault::None;
    } cases[] = {
        {"short and empty", Frame(kWsText, "hello") + Frame(kWsText, ""), {Msg("hello"), Msg("")}},
        {"16-bit lengths", Frame(kWsText, Pattern(126)) + Frame(kWsBinary, big16),
         {Msg(Pattern(126)), Msg(big16, kWsBinary)}},
        {"64-bit length", Frame(kWsText, big64), {Msg(big64)}},
        {"fragments with a ping between",
         Frame(kWsText, "frag-", false) + Frame(kWsContinuation, "ment", false) + Frame(kWsPing, "p") +
             Frame(kWsContinuation, "ed") + Frame(kWsText, "next"),
         {PingOf("p"), Msg("frag-mented"), Msg("next")}},
        {"pongs are dropped", Frame(kWsPong, "x") + Frame(kWsText, "a"), {Msg("a")}},
        {"nothing after a close", Frame(kWsText, "a") + Frame(kWsClose, "\x03\xe8") + Frame(kWsText, "b"),
         {Msg("a"), CloseOf("\x03\xe8")}},
        {"masked server frame", Frame(kWsText, "ok") + Frame(kWsText, "x", true, true), {Msg("ok"), kError},
         Fault::MaskedFrame},
        {"reserved bits", Frame(kWsText, "x", true, false, 4), {kError}, Fault::ReservedBits},
        {"reserved data opcode", Frame(3, "x"), {kError}, Fault::ReservedOpcode},
        {"reserved control opcode", Frame(0xB, "x"), {kError}, Fault::ReservedOpcode},
        {"control frame over 125", Frame(kWsPing, Pattern(126)), {kError}, Fault::BadControlFrame},
        {"fragmented control frame", Frame(kWsPing, "p", false), {kError}, Fault::BadControlFrame},
        {"continuation without a start", Frame(kWsContinuation, "x"), {kError}, Fault::UnexpectedContinuation},
        {"new message inside fragments", Frame(kWsText, "a", false) + Frame(kWsText, "b"), {kError},
         Fault::UnfinishedMessage},
        {"over the limit", Frame(kWsText, "a") + Frame(kWsText, Pattern(kLimit + 1)), {Msg("a"), kError},
         Fault::TooLarge},
        {"fragments over the limit",
         Frame(kWsText, Pattern(kLimit / 2), false) + Frame(kWsContinuation, Pattern(kLimit / 2 + 1)), {kError},
         Fault::TooLarge},
        {"a length beyond memory", LongHeader(1ull << 40), {kError}, Fault::TooLarge},
        {"a length with the top bit", LongHeader(1ull << 63), {kError}, Fault::BadLength},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fault fault = Fault::None;
        EXPECT_EQ(Decode(c.bytes, {}, &fault), c.expected) << "all at once";
        EXPECT_EQ(fault, c.fault);

        std::vector<size_t> bytewise;
        for (size_t i = 1; i < std::min<size_t>(c.bytes.size(), 4000); ++i) bytewise.push_back(i);
        EXPECT_EQ(Decode(c.bytes, bytewise), c.expected) << "the first bytes one at a time";

        // Every split into two pieces; in long inputs, the splits around each header and the end.
        for (size_t cut = 1; cut < c.bytes.size(); ++cut) {
            if (c.bytes.size() > 400 && cut > 150 && cut + 150 < c.bytes.size() && cut % 8191 != 0) continue;
            ASSERT_EQ(Decode(c.bytes, {cut}), c.expected) << "split at " << cut;
        }
    }
}

TEST(FrameDecoder, ReadsAKnownFrameInPlaceAndGivesBackTheMemoryAfterIt) {
    FrameDecoder decoder(64u << 20);
    const std::string payload = Pattern(5 << 20);
    const std::string bytes = Frame(kWsText, payload) + Frame(kWsText, "after");
    size_t at = 0, reads = 0;
    Result result = Result::NeedMore;
    while ((result = decoder.Next()) == Result::NeedMore && at < bytes.size()) {
        size_t room = 0;
        char* space = decoder.Space(room, 1 << 20);
        ASSERT_GT(room, 0u);
        if (at > 0) {
            EXPECT_LE(decoder.Capacity(), payload.size() + 14 + FrameDecoder::kKeptCapacity) << "grew once";
        }
        const size_t n = std::min(room, bytes.size() - at);
        std::memcpy(space, bytes.data() + at, n);
        decoder.Commit(n);
        at += n;
        ++reads;
    }
    ASSERT_EQ(result, Result::Message);
    EXPECT_TRUE(decoder.Payload() == payload);
    EXPECT_LE(reads, 7u) << "reads of up to 1 MiB each";
    // Space asked after the message brings the buffer back to its usual size.
    size_t room = 0;
    decoder.Space(room);
    EXPECT_EQ(decoder.Capacity(), FrameDecoder::kKeptCapacity);
    decoder.Feed(std::string_view(bytes).substr(at));
    ASSERT_EQ(decoder.Next(), Result::Message);
    EXPECT_EQ(decoder.Payload(), "after");
}

TEST(FrameDecoder, ALongStreamThroughOneBufferOfTheUsualSize) {
    // Messages of many sizes, read in uneven pieces, so that unfinished frames move to the front.
    std::vector<std::string> messages;
    std::string bytes;
    for (size_t i = 0; i < 300; ++i) {
        messages.push_back(Pattern((i * 7919) % 70000));
        bytes += Frame(kWsText, messages.back());
    }
    FrameDecoder decoder(1u << 20);
    const size_t pieces[] = {1, 13, 4096, 65537, 9973, 2};
    size_t at = 0, next = 0, round = 0;
    while (next < messages.size()) {
        Result r = decoder.Next();
        if (r == Result::NeedMore) {
            ASSERT_LT(at, bytes.size());
            size_t room = 0;
            char* space = decoder.Space(room, pieces[round++ % 6]);
            const size_t n = std::min(room, bytes.size() - at);
            std::memcpy(space, bytes.data() + at, n);
            decoder.Commit(n);
            at += n;
            continue;
        }
        ASSERT_EQ(r, Result::Message);
        ASSERT_TRUE(decoder.Payload() == messages[next]) << "message " << next;
        ++next;
    }
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(decoder.Capacity(), FrameDecoder::kKeptCapacity);
}

TEST(FrameDecoder, AHugeLengthIsRefusedBeforeAnyAllocation) {
    FrameDecoder decoder(1u << 20);
    decoder.Feed(LongHeader(1ull << 50));
    EXPECT_EQ(decoder.Next(), Result::Error);
    EXPECT_EQ(decoder.LastFault(), Fault::TooLarge);
    EXPECT_LE(decoder.Capacity(), FrameDecoder::kKeptCapacity);
}

TEST(ClientFrame, OneFinalMaskedFrameOfAnyLength) {
    const uint32_t key = 0xA1B2C3D4;
    const char mask[4] = {char(0xA1), char(0xB2), char(0xC3), char(0xD4)};
    for (size_t size : {0u, 1u, 125u, 126u, 65535u, 65536u, 200000u}) {
        SCOPED_TRACE(size);
        const std::string payload = Pattern(size);
        const std::string frame = EncodeClientFrame(kWsText, payload, key);
        ASSERT_GE(frame.size(), 6u);
        EXPECT_EQ(uint8_t(frame[0]), 0x81);  // final, text
        EXPECT_TRUE(uint8_t(frame[1]) & 0x80);
        const uint8_t code = frame[1] & 0x7F;
        size_t header = 2;
        uint64_t length = code;
        if (code == 126) {
            length = (uint64_t(uint8_t(frame[2])) << 8) | uint8_t(frame[3]);
            header = 4;
        } else if (code == 127) {
            length = 0;
            for (int i = 0; i < 8; ++i) length = (length << 8) | uint8_t(frame[2 + i]);
            header = 10;
        }
        EXPECT_EQ(code, size < 126 ? size : size <= 0xFFFF ? 126 : 127) << "shortest length form";
        EXPECT_EQ(length, size);
        EXPECT_EQ(frame.compare(header, 4, mask, 4), 0);
        ASSERT_EQ(frame.size(), header + 4 + size);
        std::string unmasked = frame.substr(header + 4);
        for (size_t i = 0; i < unmasked.size(); ++i) unmasked[i] ^= mask[i & 3];
        EXPECT_TRUE(unmasked == payload);
    }
}
