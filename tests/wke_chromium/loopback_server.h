// A loopback server inside the test process: serves fixed pages over HTTP, or hands each
// accepted connection to a test's own routine (for speaking WebSocket to the client).
#pragma once

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wketest {

class LoopbackServer {
public:
    using Handler = std::function<void(SOCKET client)>;

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Serves `body` at `path` (e.g. "/page.html").
    void AddPage(const std::string& path, const std::string& body, const std::string& type = "text/html; charset=utf-8");
    // Every connection goes to `handler` instead of the HTTP answerer.
    void SetHandler(Handler handler);
    bool Start();
    void Stop();
    int Port() const { return port_; }
    std::string Url(const std::string& path) const;
    int Requests() const { return requests_; }

private:
    void AcceptLoop();
    void ServeHttp(SOCKET client);

    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread thread_;
    std::vector<std::thread> clients_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    std::mutex mutex_;
    std::map<std::string, std::pair<std::string, std::string>> pages_;
    Handler handler_;
};

// Socket helpers for handlers.
bool SendAllBytes(SOCKET s, const std::string& bytes);
bool ReceiveExact(SOCKET s, std::string& out, size_t count, int timeoutMs = 10000);
// Reads up to and including the blank line that ends an HTTP head.
bool ReceiveHead(SOCKET s, std::string& head, int timeoutMs = 10000);
std::string HeaderValue(const std::string& head, const std::string& name);
// A server frame (unmasked) with the given opcode and FIN bit.
std::string ServerFrame(uint8_t opcode, const std::string& payload, bool fin = true);
// The server's side of a WebSocket upgrade, with a right or a wrong accept value.
bool AcceptWebSocket(SOCKET client, bool goodAccept = true);
// Reads one client frame and unmasks it; finalMasked tells whether it was final and masked.
bool ReceiveClientFrame(SOCKET client, uint8_t& opcode, std::string& payload, bool& finalMasked,
                        int timeoutMs = 10000);

}  // namespace wketest
