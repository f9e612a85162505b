// A loopback server of pages that misbehave: answers with any status and headers, bodies whose end
// comes late or never, and loops of redirects. Each path is counted as it is asked for, so a test
// knows when the browser is in the middle of a load.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "loopback_server.h"

namespace wketest {

struct HostileRoute {
    int status = 200;
    std::string headers = "Content-Type: text/html; charset=utf-8\r\n";  // each line ends in CR LF
    std::string body;
    // Sent after tailDelayMs; the answer has no length, so the load ends only when the connection does.
    std::string tail;
    int tailDelayMs = 0;
    bool neverEnds = false;  // after body (and tail), the connection stays open until the server stops
};

class HostilePages {
public:
    HostilePages();
    ~HostilePages();
    HostilePages(const HostilePages&) = delete;
    HostilePages& operator=(const HostilePages&) = delete;

    void Add(const std::string& path, HostileRoute route);
    void AddPage(const std::string& path, const std::string& html);
    // A 302 to `to`.
    void AddRedirect(const std::string& path, const std::string& to);
    bool Start();
    void Stop();

    std::string Url(const std::string& path) const { return server_.Url(path); }
    int Port() const { return server_.Port(); }
    // How many requests for this path (without its query) have arrived.
    int Hits(const std::string& path) const;

private:
    void Serve(SOCKET client);
    bool SleepUnlessStopping(int ms);

    LoopbackServer server_;
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::map<std::string, HostileRoute> routes_;
    std::map<std::string, int> hits_;
};

// A page whose whole viewport, and more, is one colour (0xRRGGBB).
std::string ColourPage(std::uint32_t colour, const std::string& title, const std::string& extraHead = {},
                       const std::string& extraBody = {});
std::string CssColour(std::uint32_t colour);

}  // namespace wketest
