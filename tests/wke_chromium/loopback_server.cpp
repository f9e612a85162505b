#include "loopback_server.h"

#include <ws2tcpip.h>

#include <cstring>

#include "text.h"

namespace wketest {

LoopbackServer::LoopbackServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

LoopbackServer::~LoopbackServer() {
    Stop();
    WSACleanup();
}

void LoopbackServer::AddPage(const std::string& path, const std::string& body, const std::string& type) {
    std::lock_guard lock(mutex_);
    pages_[path] = {type, body};
}

void LoopbackServer::SetHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

bool LoopbackServer::Start() {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    if (listen(listener_, 64) != 0) return false;
    int length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void LoopbackServer::Stop() {
    if (stopping_.exchange(true)) return;
    if (listener_ != INVALID_SOCKET) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
    }
    if (thread_.joinable()) thread_.join();
    for (auto& client : clients_)
        if (client.joinable()) client.join();
}

std::string LoopbackServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::AcceptLoop() {
    while (!stopping_) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(listener_, &set);
        timeval tv{0, 100000};
        if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
        SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            handler = handler_;
        }
        clients_.emplace_back([this, client, handler] {
            if (handler)
                handler(client);
            else
                ServeHttp(client);
            shutdown(client, SD_SEND);
            closesocket(client);
        });
    }
}

void LoopbackServer::ServeHttp(SOCKET client) {
    std::string head;
    if (!ReceiveHead(client, head)) return;
    ++requests_;
    size_t space = head.find(' ');
    size_t space2 = head.find(' ', space + 1);
    std::string path = space == std::string::npos ? "/" : head.substr(space + 1, space2 - space - 1);
    std::pair<std::string, std::string> page;
    bool found;
    {
        std::lock_guard lock(mutex_);
        auto it = pages_.find(path);
        found = it != pages_.end();
        if (found) page = it->second;
    }
    std::string response;
    if (found) {
        response = "HTTP/1.1 200 OK\r\nContent-Type: " + page.first + "\r\nContent-Length: " +
                   std::to_string(page.second.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" +
                   page.second;
    } else {
        std::string body = "<title>Not found</title>missing";
        response = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }
    SendAllBytes(client, response);
}

bool SendAllBytes(SOCKET s, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = send(s, bytes.data() + sent, static_cast<int>(std::min<size_t>(bytes.size() - sent, 1 << 20)), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

static bool WaitReadable(SOCKET s, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &tv) > 0;
}

bool ReceiveExact(SOCKET s, std::string& out, size_t count, int timeoutMs) {
    out.clear();
    char buffer[65536];
    while (out.size() < count) {
        if (!WaitReadable(s, timeoutMs)) return false;
        int n = recv(s, buffer, static_cast<int>(std::min<size_t>(sizeof buffer, count - out.size())), 0);
        if (n <= 0) return false;
        out.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool ReceiveHead(SOCKET s, std::string& head, int timeoutMs) {
    head.clear();
    char c;
    while (head.size() < 65536) {
        if (!WaitReadable(s, timeoutMs)) return false;
        if (recv(s, &c, 1, 0) != 1) return false;
        head += c;
        if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) return true;
    }
    return false;
}

std::string HeaderValue(const std::string& head, const std::string& name) {
    std::string lowerHead = head, lowerName = name;
    for (auto& c : lowerHead) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (auto& c : lowerName) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    size_t at = lowerHead.find("\r\n" + lowerName + ":");
    if (at == std::string::npos) return {};
    size_t start = at + 3 + lowerName.size();
    size_t end = head.find("\r\n", start);
    std::string value = head.substr(start, end - start);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    return value;
}

std::string ServerFrame(uint8_t opcode, const std::string& payload, bool fin) {
    std::string frame;
    frame += static_cast<char>((fin ? 0x80 : 0) | opcode);
    uint64_t size = payload.size();
    if (size < 126) {
        frame += static_cast<char>(size);
    } else if (size <= 0xFFFF) {
        frame += static_cast<char>(126);
        frame += static_cast<char>(size >> 8);
        frame += static_cast<char>(size & 0xFF);
    } else {
        frame += static_cast<char>(127);
        for (int i = 7; i >= 0; --i) frame += static_cast<char>((size >> (8 * i)) & 0xFF);
    }
    return frame + payload;
}

bool AcceptWebSocket(SOCKET client, bool goodAccept) {
    std::string head;
    if (!ReceiveHead(client, head)) return false;
    std::string key = HeaderValue(head, "Sec-WebSocket-Key");
    std::string accept = goodAccept ? wkechr::WebSocketAccept(key) : std::string("AAAAAAAAAAAAAAAAAAAAAAAAAAA=");
    return SendAllBytes(client, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                "Connection: Upgrade\r\nSec-WebSocket-Accept: " + accept + "\r\n\r\n");
}

bool ReceiveClientFrame(SOCKET client, uint8_t& opcode, std::string& payload, bool& finalMasked, int timeoutMs) {
    std::string head;
    if (!ReceiveExact(client, head, 2, timeoutMs)) return false;
    opcode = head[0] & 0x0F;
    finalMasked = (head[0] & 0x80) && (head[1] & 0x80);
    uint64_t length = head[1] & 0x7F;
    std::string ext;
    if (length == 126) {
        if (!ReceiveExact(client, ext, 2, timeoutMs)) return false;
        length = (uint8_t(ext[0]) << 8) | uint8_t(ext[1]);
    } else if (length == 127) {
        if (!ReceiveExact(client, ext, 8, timeoutMs)) return false;
        length = 0;
        for (char c : ext) length = (length << 8) | uint8_t(c);
    }
    std::string mask;
    if (!ReceiveExact(client, mask, 4, timeoutMs)) return false;
    if (!ReceiveExact(client, payload, static_cast<size_t>(length), timeoutMs)) return false;
    for (size_t i = 0; i < payload.size(); ++i) payload[i] ^= mask[i & 3];
    return true;
}

}  // namespace wketest
