#include "hostile_pages.h"

#include <cstdio>

namespace wketest {

namespace {

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 302: return "Found";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

}  // namespace

std::string CssColour(std::uint32_t colour) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06x", static_cast<unsigned>(colour & 0xFFFFFF));
    return text;
}

std::string ColourPage(std::uint32_t colour, const std::string& title, const std::string& extraHead,
                       const std::string& extraBody) {
    return "<!DOCTYPE html><html style='background:" + CssColour(colour) + "'><head><title>" + title + "</title>" +
           extraHead + "</head><body style='margin:0'><div style='height:1000px'></div>" + extraBody +
           "</body></html>";
}

HostilePages::HostilePages() {
    server_.SetHandler([this](SOCKET client) { Serve(client); });
}

HostilePages::~HostilePages() { Stop(); }

void HostilePages::Add(const std::string& path, HostileRoute route) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(route);
}

void HostilePages::AddPage(const std::string& path, const std::string& html) {
    HostileRoute route;
    route.body = html;
    Add(path, std::move(route));
}

void HostilePages::AddRedirect(const std::string& path, const std::string& to) {
    HostileRoute route;
    route.status = 302;
    route.headers = "Location: " + to + "\r\n";
    Add(path, std::move(route));
}

bool HostilePages::Start() { return server_.Start(); }

void HostilePages::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    server_.Stop();
}

int HostilePages::Hits(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = hits_.find(path);
    return it == hits_.end() ? 0 : it->second;
}

bool HostilePages::SleepUnlessStopping(int ms) {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void HostilePages::Serve(SOCKET client) {
    std::string head;
    if (!ReceiveHead(client, head)) return;
    const size_t space = head.find(' ');
    const size_t end = head.find_first_of(" ?", space + 1);
    const std::string path = space == std::string::npos ? "/" : head.substr(space + 1, end - space - 1);
    HostileRoute route;
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        ++hits_[path];
        auto it = routes_.find(path);
        if (it != routes_.end()) {
            route = it->second;
            found = true;
        }
    }
    if (!found) {
        route.status = 404;
        route.body = "<title>Not found</title>missing";
    }
    const bool lengthKnown = route.tail.empty() && !route.neverEnds;
    std::string answer = "HTTP/1.1 " + std::to_string(route.status) + " " + Reason(route.status) + "\r\n" +
                         route.headers + "Cache-Control: no-store\r\nConnection: close\r\n";
    if (lengthKnown) answer += "Content-Length: " + std::to_string(route.body.size()) + "\r\n";
    answer += "\r\n" + route.body;
    if (!SendAllBytes(client, answer)) return;
    if (!route.tail.empty()) {
        if (!SleepUnlessStopping(route.tailDelayMs)) return;
        if (!SendAllBytes(client, route.tail)) return;
    }
    if (route.neverEnds) {
        // Held open: the browser sees a body that is still coming. A closed peer ends the wait early.
        while (SleepUnlessStopping(500)) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(client, &set);
            timeval now{0, 0};
            if (select(0, &set, nullptr, nullptr, &now) > 0) {
                char byte;
                if (recv(client, &byte, 1, 0) <= 0) return;
            }
        }
    }
}

}  // namespace wketest
