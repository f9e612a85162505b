// Transport: a WebSocket client over Winsock, enough for a DevTools endpoint on loopback.
// Sending never waits for the peer: frames go to a queue that a writer thread of this object
// empties, so that a reader that also sends (pongs, acknowledgements) keeps reading while the peer
// is too busy to read.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "deadline.h"
#include "frame_codec.h"
#include "scoped.h"

namespace wkechr {

class WebSocket {
public:
    enum class Status { Message, Timeout, Closed };

    // Frames waiting for a peer that does not read, at most; beyond this the connection counts as lost.
    static constexpr size_t kMaxQueuedBytes = size_t(128) << 20;

    WebSocket() = default;
    ~WebSocket();
    WebSocket(const WebSocket&) = delete;
    WebSocket& operator=(const WebSocket&) = delete;

    // Connects to host:port (dotted IPv4) and upgrades `path`; false on any failure or at the deadline.
    bool Connect(const char* host, int port, const std::string& path, Deadline deadline);
    bool Connect(const char* host, int port, const std::string& path, int timeoutMs) {
        return Connect(host, port, path, Deadline::In(timeoutMs));
    }
    // Queues one message as one frame and returns at once, from any thread; false once the
    // connection is gone.
    bool SendText(std::string_view text);
    // For one reader thread: waits up to timeoutMs for the next complete text or binary message,
    // which stays valid until the next Receive. Pings are answered; a close frame, a protocol
    // error or a broken connection gives Closed, for good.
    Status Receive(std::string_view& message, int timeoutMs);
    Status Receive(std::string& message, int timeoutMs);
    // Wakes a Receive that waits, ends the writer and makes every later call fail; safe from any
    // thread, also more than once.
    void Shutdown();

    // Before Connect.
    void SetMaxMessageSize(uint64_t bytes) { maxMessage_ = bytes; }
    size_t QueuedBytes() const;

private:
    bool Enqueue(uint8_t opcode, std::string_view payload, bool evenWhenClosed = false);
    void WriterLoop();
    bool WriteAll(const char* data, size_t size, const Deadline* deadline);
    bool ReadHandshake(const std::string& key, Deadline deadline);
    void MarkClosed(bool stop);

    ScopedSocket socket_;
    std::unique_ptr<FrameDecoder> decoder_;
    uint64_t maxMessage_ = sizeof(void*) == 8 ? (1ull << 30) : (1ull << 28);
    std::atomic<bool> closed_{true};

    mutable std::mutex queueMutex_;
    std::condition_variable queueReady_;
    std::deque<std::string> queue_;
    size_t queuedBytes_ = 0;  // including the frame being written
    uint64_t random_ = 0;
    // Closed only refuses new messages: the writer still sends what is queued (a pong, the answer
    // to a close). Stopping ends the writer at once.
    std::atomic<bool> stopping_{false};

    std::mutex writerMutex_;  // guards the thread object only, so that one caller joins it
    std::thread writer_;
};

}  // namespace wkechr
