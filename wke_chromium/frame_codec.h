// WebSocket framing for a client: the frames it sends, and an incremental reader of the frames a
// server sends. Pure code: the socket belongs to the caller, who reads straight into the
// decoder's buffer and gets whole messages back as views into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace wkechr {

enum WsOpcode : uint8_t { kWsContinuation = 0, kWsText = 1, kWsBinary = 2, kWsClose = 8, kWsPing = 9, kWsPong = 10 };

// One complete, final, masked client frame: the browser refuses fragmented client messages.
std::string EncodeClientFrame(uint8_t opcode, std::string_view payload, uint32_t maskKey);

class FrameDecoder {
public:
    enum class Result {
        NeedMore,  // no whole message yet: read more into Space()
        Message,   // Payload() is a complete text or binary message
        Ping,      // Payload() is the ping's data, to be sent back in a pong
        Close,     // the server closed; Payload() is its close data; every later call says Close
        Error,     // a protocol error or a message over the limit; every later call says Error
    };
    enum class Fault { None, MaskedFrame, ReservedBits, ReservedOpcode, BadControlFrame, BadLength,
                       UnexpectedContinuation, UnfinishedMessage, TooLarge };

    explicit FrameDecoder(uint64_t maxMessage);
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Room for at least one more byte, at most `limit` bytes, to read into; then Commit what came.
    // A frame whose length is known gets room for all of it at once.
    char* Space(size_t& size, size_t limit = SIZE_MAX);
    void Commit(size_t bytes);
    // Copies bytes in (bytes that came some other way, e.g. behind a handshake).
    void Feed(std::string_view bytes);

    // The next event from the bytes so far. A payload stays valid until the next call to any member.
    Result Next();
    std::string_view Payload() const { return payload_; }
    uint8_t MessageOpcode() const { return messageOpcode_; }
    Fault LastFault() const { return fault_; }

    size_t Buffered() const { return end_ - begin_; }
    size_t Capacity() const { return capacity_; }

    // What the buffer keeps between messages; more is given back after a message that needed it.
    static constexpr size_t kKeptCapacity = 256 * 1024;

private:
    Result Fail(Fault fault);
    void Reserve(size_t needed);
    void ReleaseSpare();

    const uint64_t maxMessage_;
    std::unique_ptr<char[]> data_;
    size_t capacity_ = 0;
    size_t begin_ = 0;  // first unread byte
    size_t end_ = 0;    // one past the last byte read
    size_t wanted_ = 0;  // the bytes from begin_ that the frame being read needs, once known
    std::string assembled_;  // a fragmented message so far
    bool inFragments_ = false;
    uint8_t messageOpcode_ = 0;
    std::string_view payload_;
    Result sticky_ = Result::NeedMore;
    Fault fault_ = Fault::None;
};

}  // namespace wkechr
