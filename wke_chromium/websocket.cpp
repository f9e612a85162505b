#include "websocket.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "text.h"

namespace wkechr {

namespace {

uint64_t NextRandom(uint64_t& state) {
    if (state == 0) {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        state = static_cast<uint64_t>(counter.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
                reinterpret_cast<uintptr_t>(&state) ^ 0x9E3779B97F4A7C15ull;
    }
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

bool SendAll(SOCKET s, const char* data, size_t size) {
    while (size > 0) {
        int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        int sent = send(s, data, chunk, 0);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

// select() on one socket for reading; 1 ready, 0 timed out, -1 error.
int WaitReadable(SOCKET s, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int r = select(0, &set, nullptr, nullptr, &tv);
    return r > 0 ? 1 : r == 0 ? 0 : -1;
}

std::string Lower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

bool WebSocket::Connect(const char* host, int port, const std::string& path, int timeoutMs) {
    static ScopedWinsock winsock;
    if (!winsock.Ok()) return false;
    socket_.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket_) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    if (inet_pton(AF_INET, host, &address.sin_addr) != 1) return false;

    u_long nonBlocking = 1;
    ioctlsocket(socket_.Get(), FIONBIO, &nonBlocking);
    if (connect(socket_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_SET(socket_.Get(), &writable);
        FD_ZERO(&failed);
        FD_SET(socket_.Get(), &failed);
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (select(0, nullptr, &writable, &failed, &tv) <= 0 || FD_ISSET(socket_.Get(), &failed)) return false;
        int error = 0;
        int length = sizeof error;
        getsockopt(socket_.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        if (error != 0) return false;
    }
    nonBlocking = 0;
    ioctlsocket(socket_.Get(), FIONBIO, &nonBlocking);
    BOOL noDelay = TRUE;
    setsockopt(socket_.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);

    std::string keyBytes;
    for (int i = 0; i < 2; ++i) {
        uint64_t r = NextRandom(random_);
        keyBytes.append(reinterpret_cast<const char*>(&r), 8);
    }
    std::string key = Base64Encode(keyBytes);
    std::string request = "GET " + (path.empty() ? std::string("/") : path) + " HTTP/1.1\r\n" +
                          "Host: " + host + ":" + std::to_string(port) + "\r\n" +
                          "Upgrade: websocket\r\nConnection: Upgrade\r\n" +
                          "Sec-WebSocket-Key: " + key + "\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (!SendAll(socket_.Get(), request.data(), request.size())) return false;
    if (!ReadHandshake(key, timeoutMs)) {
        socket_.Reset();
        return false;
    }
    closed_ = false;
    return true;
}

bool WebSocket::ReadHandshake(const std::string& key, int timeoutMs) {
    DWORD deadline = GetTickCount() + static_cast<DWORD>(timeoutMs);
    buffer_.assign(4096, '\0');
    have_ = 0;
    size_t end = std::string::npos;
    while (end == std::string::npos) {
        int left = static_cast<int>(deadline - GetTickCount());
        if (left <= 0 || have_ >= 16384) return false;
        if (WaitReadable(socket_.Get(), left) != 1) return false;
        if (buffer_.size() - have_ < 1024) buffer_.resize(buffer_.size() * 2);
        int got = recv(socket_.Get(), &buffer_[have_], static_cast<int>(buffer_.size() - have_), 0);
        if (got <= 0) return false;
        have_ += static_cast<size_t>(got);
        end = std::string_view(buffer_.data(), have_).find("\r\n\r\n");
    }
    std::string head = buffer_.substr(0, end);
    buffer_.erase(0, end + 4);
    have_ -= end + 4;

    size_t lineEnd = head.find("\r\n");
    std::string status = head.substr(0, lineEnd);
    if (status.size() < 12 || status.compare(0, 5, "HTTP/") != 0 || status.find(" 101") == std::string::npos)
        return false;
    std::string expected = WebSocketAccept(key);
    bool accepted = false;
    size_t pos = lineEnd;
    while (pos != std::string::npos && pos < head.size()) {
        size_t next = head.find("\r\n", pos + 2);
        std::string line = head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = Lower(line.substr(0, colon));
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            value.erase(value.find_last_not_of(" \t") + 1);
            if (name == "sec-websocket-accept" && value == expected) accepted = true;
        }
        pos = next;
    }
    return accepted;
}

bool WebSocket::SendFrame(uint8_t opcode, std::string_view payload) {
    std::lock_guard lock(sendMutex_);
    if (!socket_ || closed_) return false;
    std::string frame = EncodeClientFrame(opcode, payload, static_cast<uint32_t>(NextRandom(random_)));
    return SendAll(socket_.Get(), frame.data(), frame.size());
}

bool WebSocket::SendText(std::string_view text) { return SendFrame(kWsText, text); }

bool WebSocket::ReadMore(int timeoutMs, bool& timedOut) {
    timedOut = false;
    // In short slices: a shutdown from another thread does not wake select() everywhere (Wine).
    DWORD start = GetTickCount();
    int ready = 0;
    for (;;) {
        if (closed_) return false;
        int left = timeoutMs - static_cast<int>(GetTickCount() - start);
        ready = WaitReadable(socket_.Get(), std::clamp(left, 0, 100));
        if (ready != 0) break;
        if (left <= 100) {
            timedOut = true;
            return false;
        }
    }
    if (ready < 0 || closed_) return false;
    if (buffer_.size() - have_ < 65536) buffer_.resize(std::max<size_t>(have_ + 262144, buffer_.size()));
    int got = recv(socket_.Get(), &buffer_[have_], static_cast<int>(std::min<size_t>(buffer_.size() - have_, 1 << 24)), 0);
    if (got <= 0) return false;
    have_ += static_cast<size_t>(got);
    return true;
}

WebSocket::Status WebSocket::Receive(std::string& message, int timeoutMs) {
    if (!socket_ || closed_) return Status::Closed;
    DWORD deadline = GetTickCount() + static_cast<DWORD>(timeoutMs);
    for (;;) {
        // A whole frame in the buffer?
        if (have_ >= 2) {
            const uint8_t* p = reinterpret_cast<const uint8_t*>(buffer_.data());
            bool fin = (p[0] & 0x80) != 0;
            uint8_t opcode = p[0] & 0x0F;
            bool masked = (p[1] & 0x80) != 0;
            uint64_t length = p[1] & 0x7F;
            size_t header = 2;
            if (length == 126) header += 2;
            if (length == 127) header += 8;
            if (masked) header += 4;
            if (have_ >= header) {
                if (length == 126) {
                    length = (uint64_t(p[2]) << 8) | p[3];
                } else if (length == 127) {
                    length = 0;
                    for (int i = 0; i < 8; ++i) length = (length << 8) | p[2 + i];
                }
                if (length > maxMessage_ || partial_.size() + length > maxMessage_) {
                    closed_ = true;
                    return Status::Closed;
                }
                size_t total = header + static_cast<size_t>(length);
                if (have_ >= total) {
                    std::string payload(buffer_.data() + header, static_cast<size_t>(length));
                    if (masked) {
                        const char* mask = buffer_.data() + header - 4;
                        for (size_t i = 0; i < payload.size(); ++i) payload[i] ^= mask[i & 3];
                    }
                    std::memmove(&buffer_[0], buffer_.data() + total, have_ - total);
                    have_ -= total;
                    if (buffer_.size() > (1u << 22) && have_ < (1u << 20)) buffer_.resize(1u << 20);
                    switch (opcode) {
                    case kWsPing:
                        SendFrame(kWsPong, payload);
                        continue;
                    case kWsPong:
                        continue;
                    case kWsClose:
                        SendFrame(kWsClose, payload.substr(0, 2));
                        closed_ = true;
                        return Status::Closed;
                    case kWsContinuation:
                        if (!inFragments_) continue;
                        partial_ += payload;
                        if (fin) {
                            inFragments_ = false;
                            message.swap(partial_);
                            partial_.clear();
                            return Status::Message;
                        }
                        continue;
                    case kWsText:
                    case kWsBinary:
                        if (fin) {
                            message.swap(payload);
                            return Status::Message;
                        }
                        inFragments_ = true;
                        partial_.swap(payload);
                        continue;
                    default:
                        closed_ = true;
                        return Status::Closed;
                    }
                }
                if (buffer_.size() < total) buffer_.resize(total);
            }
        }
        int left = static_cast<int>(deadline - GetTickCount());
        if (left < 0) left = 0;
        bool timedOut = false;
        if (!ReadMore(left, timedOut)) {
            if (timedOut) return Status::Timeout;
            closed_ = true;
            return Status::Closed;
        }
    }
}

void WebSocket::Shutdown() {
    std::lock_guard lock(sendMutex_);
    closed_ = true;
    if (socket_) shutdown(socket_.Get(), SD_BOTH);
}

}  // namespace wkechr
