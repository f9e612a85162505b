// Transport: a WebSocket client over Winsock, enough for a DevTools endpoint on loopback.
// Every message goes out as one frame (the browser refuses fragmented client messages);
// incoming frames may carry 64-bit lengths and may be fragmented.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "frame_codec.h"
#include "scoped.h"

namespace wkechr {

class WebSocket {
public:
    enum class Status { Message, Timeout, Closed };

    WebSocket() = default;
    WebSocket(const WebSocket&) = delete;
    WebSocket& operator=(const WebSocket&) = delete;

    // Connects to host:port (dotted IPv4) and upgrades `path`; false on any failure or after timeoutMs.
    bool Connect(const char* host, int port, const std::string& path, int timeoutMs);
    // Thread-safe; false once the connection is gone.
    bool SendText(std::string_view text);
    // For one reader thread: waits up to timeoutMs for the next complete text or binary message.
    // Pings are answered; a close frame or a broken connection gives Closed, for good.
    Status Receive(std::string& message, int timeoutMs);
    // Wakes a Receive that waits and makes every later call fail; safe from any thread.
    void Shutdown();

    void SetMaxMessageSize(uint64_t bytes) { maxMessage_ = bytes; }

private:
    bool SendFrame(uint8_t opcode, std::string_view payload);
    bool ReadMore(int timeoutMs, bool& timedOut);
    bool ReadHandshake(const std::string& key, int timeoutMs);

    ScopedSocket socket_;
    std::mutex sendMutex_;
    uint64_t random_ = 0;
    std::string buffer_;
    size_t have_ = 0;
    std::string partial_;  // a fragmented message being assembled
    bool inFragments_ = false;
    std::atomic<bool> closed_{false};
    uint64_t maxMessage_ = sizeof(void*) == 8 ? (1ull << 30) : (1ull << 28);
};

}  // namespace wkechr
