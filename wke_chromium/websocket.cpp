#include "websocket.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "text.h"

namespace wkechr {

namespace {

// Waits are cut into slices: a shutdown from another thread does not wake select() everywhere (Wine).
constexpr int kSliceMs = 100;
// One recv() or send() moves at most this much.
constexpr size_t kMaxIo = size_t(1) << 24;

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

// select() on one socket; 1 ready, 0 timed out, -1 error.
int Wait(SOCKET s, bool forWriting, int timeoutMs) {
    fd_set set, failed;
    FD_ZERO(&set);
    FD_SET(s, &set);
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int r = select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, &failed, &tv);
    if (r > 0 && FD_ISSET(s, &failed)) return -1;
    return r > 0 ? 1 : r == 0 ? 0 : -1;
}

int SliceOf(Millis left) { return static_cast<int>(std::clamp<Millis>(left, 0, kSliceMs)); }

std::string Lower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The head of the server's answer: "101" and the accept value that proves it read our key.
bool HandshakeAccepted(const std::string& head, const std::string& key) {
    size_t lineEnd = head.find("\r\n");
    std::string status = head.substr(0, lineEnd);
    if (status.size() < 12 || status.compare(0, 5, "HTTP/") != 0 || status.find(" 101") == std::string::npos)
        return false;
    const std::string expected = WebSocketAccept(key);
    size_t pos = lineEnd;
    while (pos != std::string::npos && pos < head.size()) {
        size_t next = head.find("\r\n", pos + 2);
        std::string line = head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            value.erase(value.find_last_not_of(" \t") + 1);
            if (Lower(line.substr(0, colon)) == "sec-websocket-accept" && value == expected) return true;
        }
        pos = next;
    }
    return false;
}

}  // namespace

WebSocket::~WebSocket() { Shutdown(); }

bool WebSocket::Connect(const char* host, int port, const std::string& path, Deadline deadline) {
    static ScopedWinsock winsock;
    if (!winsock.Ok()) return false;
    Shutdown();
    {
        std::lock_guard lock(queueMutex_);
        queue_.clear();
        queuedBytes_ = 0;
        stopping_ = false;
    }
    decoder_ = std::make_unique<FrameDecoder>(maxMessage_);
    socket_.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket_) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    if (inet_pton(AF_INET, host, &address.sin_addr) != 1) return false;

    // Non-blocking for good: every wait is a select() with a time limit.
    u_long nonBlocking = 1;
    ioctlsocket(socket_.Get(), FIONBIO, &nonBlocking);
    BOOL noDelay = TRUE;
    setsockopt(socket_.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    if (connect(socket_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
        int ready = 0;
        while (ready == 0 && !deadline.Passed()) ready = Wait(socket_.Get(), true, SliceOf(deadline.RemainingMs()));
        if (ready != 1) return false;
        int error = 0;
        int length = sizeof error;
        getsockopt(socket_.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        if (error != 0) return false;
    }

    std::string keyBytes;
    for (int i = 0; i < 2; ++i) {
        uint64_t r = NextRandom(random_);
        keyBytes.append(reinterpret_cast<const char*>(&r), 8);
    }
    const std::string key = Base64Encode(keyBytes);
    const std::string request = "GET " + (path.empty() ? std::string("/") : path) + " HTTP/1.1\r\n" +
                                "Host: " + host + ":" + std::to_string(port) + "\r\n" +
                                "Upgrade: websocket\r\nConnection: Upgrade\r\n" +
                                "Sec-WebSocket-Key: " + key + "\r\nSec-WebSocket-Version: 13\r\n\r\n";
    closed_ = false;
    if (!WriteAll(request.data(), request.size(), &deadline) || !ReadHandshake(key, deadline)) {
        closed_ = true;
        socket_.Reset();
        return false;
    }
    std::lock_guard lock(writerMutex_);
    writer_ = std::thread([this] { WriterLoop(); });
    return true;
}

bool WebSocket::ReadHandshake(const std::string& key, Deadline deadline) {
    std::string head;
    char chunk[4096];
    size_t end = std::string::npos;
    while (end == std::string::npos) {
        if (deadline.Passed() || head.size() >= 16384 || closed_) return false;
        int ready = Wait(socket_.Get(), false, SliceOf(deadline.RemainingMs()));
        if (ready < 0) return false;
        if (ready == 0) continue;
        int got = recv(socket_.Get(), chunk, sizeof chunk, 0);
        if (got == 0 || (got < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) return false;
        if (got < 0) continue;
        const size_t from = head.size() < 3 ? 0 : head.size() - 3;
        head.append(chunk, static_cast<size_t>(got));
        end = head.find("\r\n\r\n", from);
    }
    // Frames may follow the head in the same read.
    decoder_->Feed(std::string_view(head).substr(end + 4));
    head.resize(end);
    return HandshakeAccepted(head, key);
}

bool WebSocket::WriteAll(const char* data, size_t size, const Deadline* deadline) {
    while (size > 0) {
        if (stopping_ || (deadline && deadline->Passed())) return false;
        int sent = send(socket_.Get(), data, static_cast<int>(std::min(size, kMaxIo)), 0);
        if (sent > 0) {
            data += sent;
            size -= static_cast<size_t>(sent);
            continue;
        }
        if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return false;
        // The peer is not reading: wait for room, in slices, so that a shutdown ends the wait.
        if (Wait(socket_.Get(), true, deadline ? SliceOf(deadline->RemainingMs()) : kSliceMs) < 0) return false;
    }
    return true;
}

bool WebSocket::Enqueue(uint8_t opcode, std::string_view payload, bool evenWhenClosed) {
    uint32_t mask;
    {
        std::lock_guard lock(queueMutex_);
        if (closed_ && !evenWhenClosed) return false;
        mask = static_cast<uint32_t>(NextRandom(random_));
    }
    std::string frame = EncodeClientFrame(opcode, payload, mask);
    bool overflow = false;
    {
        std::lock_guard lock(queueMutex_);
        if ((closed_ && !evenWhenClosed) || stopping_) return false;
        overflow = queuedBytes_ + frame.size() > kMaxQueuedBytes;
        if (!overflow) {
            queuedBytes_ += frame.size();
            queue_.push_back(std::move(frame));
        }
    }
    if (overflow) {
        // So much unread means the peer is stuck: the connection is treated as lost.
        Shutdown();
        return false;
    }
    queueReady_.notify_one();
    return true;
}

bool WebSocket::SendText(std::string_view text) { return Enqueue(kWsText, text); }

size_t WebSocket::QueuedBytes() const {
    std::lock_guard lock(queueMutex_);
    return queuedBytes_;
}

void WebSocket::WriterLoop() {
    std::unique_lock lock(queueMutex_);
    for (;;) {
        queueReady_.wait(lock, [&] { return stopping_ || closed_ || !queue_.empty(); });
        if (stopping_ || queue_.empty()) return;
        std::string frame = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        const bool written = WriteAll(frame.data(), frame.size(), nullptr);
        lock.lock();
        queuedBytes_ -= frame.size();
        if (!written) {
            // The reader sees the broken connection too and reports it.
            closed_ = true;
            stopping_ = true;
            return;
        }
    }
}

void WebSocket::MarkClosed(bool stop) {
    {
        std::lock_guard lock(queueMutex_);
        closed_ = true;
        if (stop) stopping_ = true;
    }
    queueReady_.notify_all();
}

WebSocket::Status WebSocket::Receive(std::string_view& message, int timeoutMs) {
    if (!socket_ || !decoder_ || closed_) return Status::Closed;
    const Deadline deadline = Deadline::In(timeoutMs);
    bool readSome = false;
    for (;;) {
        switch (decoder_->Next()) {
        case FrameDecoder::Result::Message:
            message = decoder_->Payload();
            return Status::Message;
        case FrameDecoder::Result::Ping:
            Enqueue(kWsPong, decoder_->Payload());
            continue;
        case FrameDecoder::Result::Close:
            Enqueue(kWsClose, decoder_->Payload().substr(0, 2), true);
            MarkClosed(false);
            return Status::Closed;
        case FrameDecoder::Result::Error:
            MarkClosed(false);
            return Status::Closed;
        case FrameDecoder::Result::NeedMore:
            break;
        }
        // A message that keeps coming in still yields at the time limit; the decoder keeps its place.
        if (closed_) return Status::Closed;
        if (readSome && deadline.Passed()) return Status::Timeout;
        // Read first and wait only when nothing is there: a select() for every chunk of a large
        // message costs more than the copy (Wine).
        size_t room = 0;
        char* space = decoder_->Space(room, kMaxIo);
        const int got = recv(socket_.Get(), space, static_cast<int>(room), 0);
        if (got > 0) {
            decoder_->Commit(static_cast<size_t>(got));
            readSome = true;
            continue;
        }
        if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
            MarkClosed(false);
            return Status::Closed;
        }
        int ready = 0;
        for (;;) {
            if (closed_) return Status::Closed;
            ready = Wait(socket_.Get(), false, SliceOf(deadline.RemainingMs()));
            if (ready != 0) break;
            if (deadline.Passed()) return Status::Timeout;
        }
        if (ready < 0) {
            MarkClosed(false);
            return Status::Closed;
        }
    }
}

WebSocket::Status WebSocket::Receive(std::string& message, int timeoutMs) {
    std::string_view view;
    Status status = Receive(view, timeoutMs);
    if (status == Status::Message) message.assign(view);
    return status;
}

void WebSocket::Shutdown() {
    MarkClosed(true);
    if (socket_) shutdown(socket_.Get(), SD_BOTH);
    std::thread writer;
    {
        std::lock_guard lock(writerMutex_);
        writer = std::move(writer_);
    }
    if (writer.joinable()) writer.join();
}

}  // namespace wkechr
