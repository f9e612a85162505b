#include "frame_codec.h"

#include <algorithm>
#include <cstring>

namespace wkechr {

namespace {

// Room past the unread bytes when the next frame's size is not known yet.
constexpr size_t kMinRead = 16 * 1024;

}  // namespace

std::string EncodeClientFrame(uint8_t opcode, std::string_view payload, uint32_t maskKey) {
    char header[14];
    size_t headerSize = 0;
    const uint64_t size = payload.size();
    header[headerSize++] = static_cast<char>(0x80 | (opcode & 0x0F));
    if (size < 126) {
        header[headerSize++] = static_cast<char>(0x80 | size);
    } else if (size <= 0xFFFF) {
        header[headerSize++] = static_cast<char>(0x80 | 126);
        header[headerSize++] = static_cast<char>(size >> 8);
        header[headerSize++] = static_cast<char>(size & 0xFF);
    } else {
        header[headerSize++] = static_cast<char>(0x80 | 127);
        for (int i = 7; i >= 0; --i) header[headerSize++] = static_cast<char>((size >> (8 * i)) & 0xFF);
    }
    const char mask[4] = {static_cast<char>(maskKey >> 24), static_cast<char>(maskKey >> 16),
                          static_cast<char>(maskKey >> 8), static_cast<char>(maskKey)};
    std::memcpy(header + headerSize, mask, 4);
    headerSize += 4;

    std::string frame;
    frame.reserve(headerSize + payload.size());
    frame.append(header, headerSize);
    frame.append(payload);
    char* body = frame.data() + headerSize;
    for (size_t i = 0; i < payload.size(); ++i) body[i] ^= mask[i & 3];
    return frame;
}

FrameDecoder::FrameDecoder(uint64_t maxMessage) : maxMessage_(maxMessage) {}

void FrameDecoder::Reserve(size_t needed) {
    const size_t unread = end_ - begin_;
    if (unread == 0) begin_ = end_ = 0;
    // After a message that needed a large buffer, the memory goes back as soon as it is not needed.
    const bool shrink = capacity_ > kKeptCapacity && needed <= kKeptCapacity;
    if (!shrink && capacity_ - begin_ >= needed) return;
    if (!shrink && capacity_ >= needed) {
        // Only the unfinished frame moves; it is small unless its own size made the buffer this big.
        std::memmove(data_.get(), data_.get() + begin_, unread);
    } else {
        size_t capacity = std::max(needed, kKeptCapacity);
        // Growth that no known frame size asks for doubles, so that feeding many bytes stays linear.
        if (!shrink && wanted_ < needed) capacity = std::max(capacity, capacity_ * 2);
        std::unique_ptr<char[]> data(new char[capacity]);
        if (unread > 0) std::memcpy(data.get(), data_.get() + begin_, unread);
        data_ = std::move(data);
        capacity_ = capacity;
    }
    begin_ = 0;
    end_ = unread;
}

char* FrameDecoder::Space(size_t& size, size_t limit) {
    payload_ = {};
    const size_t unread = end_ - begin_;
    Reserve(std::max(wanted_, unread + kMinRead));
    size = std::min(capacity_ - end_, limit);
    return data_.get() + end_;
}

void FrameDecoder::Commit(size_t bytes) { end_ += std::min(bytes, capacity_ - end_); }

void FrameDecoder::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
        size_t room = 0;
        char* at = Space(room, bytes.size());
        std::memcpy(at, bytes.data(), room);
        Commit(room);
        bytes.remove_prefix(room);
    }
}

FrameDecoder::Result FrameDecoder::Fail(Fault fault) {
    fault_ = fault;
    sticky_ = Result::Error;
    return sticky_;
}

void FrameDecoder::ReleaseSpare() {
    if (inFragments_) return;
    if (assembled_.capacity() > kKeptCapacity)
        std::string().swap(assembled_);
    else
        assembled_.clear();
}

FrameDecoder::Result FrameDecoder::Next() {
    payload_ = {};
    if (sticky_ != Result::NeedMore) return sticky_;
    ReleaseSpare();
    for (;;) {
        const size_t unread = end_ - begin_;
        wanted_ = 0;
        if (unread < 2) return Result::NeedMore;
        const auto* p = reinterpret_cast<const uint8_t*>(data_.get() + begin_);
        const bool fin = (p[0] & 0x80) != 0;
        const uint8_t opcode = p[0] & 0x0F;
        if (p[0] & 0x70) return Fail(Fault::ReservedBits);  // no extension was agreed
        if (p[1] & 0x80) return Fail(Fault::MaskedFrame);   // servers never mask
        uint64_t length = p[1] & 0x7F;
        const size_t header = 2 + (length == 126 ? 2 : length == 127 ? 8 : 0);
        if (unread < header) {
            wanted_ = header;
            return Result::NeedMore;
        }
        if (length == 126) {
            length = (uint64_t(p[2]) << 8) | p[3];
        } else if (length == 127) {
            length = 0;
            for (int i = 0; i < 8; ++i) length = (length << 8) | p[2 + i];
            if (length >> 63) return Fail(Fault::BadLength);
        }

        const bool control = (opcode & 0x08) != 0;
        if (control) {
            if (opcode != kWsClose && opcode != kWsPing && opcode != kWsPong) return Fail(Fault::ReservedOpcode);
            if (!fin || length > 125) return Fail(Fault::BadControlFrame);
        } else {
            if (opcode > kWsBinary) return Fail(Fault::ReservedOpcode);
            if (opcode == kWsContinuation && !inFragments_) return Fail(Fault::UnexpectedContinuation);
            if (opcode != kWsContinuation && inFragments_) return Fail(Fault::UnfinishedMessage);
            const uint64_t sofar = opcode == kWsContinuation ? assembled_.size() : 0;
            if (length > maxMessage_ || sofar + length > maxMessage_) return Fail(Fault::TooLarge);
        }
        const size_t frameSize = header + static_cast<size_t>(length);
        if (unread < frameSize) {
            wanted_ = frameSize;
            return Result::NeedMore;
        }
        const std::string_view body(data_.get() + begin_ + header, static_cast<size_t>(length));
        begin_ += frameSize;

        switch (opcode) {
        case kWsPing:
            payload_ = body;
            return Result::Ping;
        case kWsPong:
            continue;
        case kWsClose:
            payload_ = body;
            sticky_ = Result::Close;
            return Result::Close;
        case kWsContinuation:
            assembled_.append(body);
            if (!fin) continue;
            inFragments_ = false;
            payload_ = assembled_;
            return Result::Message;
        default:  // text or binary
            messageOpcode_ = opcode;
            if (fin) {
                payload_ = body;
                return Result::Message;
            }
            inFragments_ = true;
            assembled_.assign(body);
            continue;
        }
    }
}

}  // namespace wkechr
