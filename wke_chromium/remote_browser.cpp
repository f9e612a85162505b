#include "remote_browser.h"

#include <ws2tcpip.h>

#include "scoped.h"
#include "text.h"

namespace wkechr {

namespace {

struct AddrInfoTraits {
    static addrinfo* Invalid() { return nullptr; }
    static void Close(addrinfo* info) { freeaddrinfo(info); }
};
using ScopedAddrInfo = Scoped<addrinfo*, AddrInfoTraits>;

bool ResolveIPv4(const std::string& host, std::string& dotted) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
    ScopedAddrInfo owner(found);
    for (addrinfo* info = found; info; info = info->ai_next) {
        if (info->ai_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        auto* address = reinterpret_cast<sockaddr_in*>(info->ai_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) {
            dotted = text;
            return true;
        }
    }
    return false;
}

bool WaitFor(SOCKET s, bool write, Deadline deadline) {
    fd_set set, failed;
    FD_ZERO(&set);
    FD_SET(s, &set);
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    const Millis left = deadline.RemainingMs();
    timeval tv{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
    int ready = select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &tv);
    return ready > 0 && !FD_ISSET(s, &failed);
}

// One GET of /json/version; the browser keeps the connection open, so the body is read by length.
bool FetchVersion(const std::string& dotted, int port, Deadline deadline, std::string& body) {
    static ScopedWinsock winsock;
    if (!winsock.Ok()) return false;
    ScopedSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    if (inet_pton(AF_INET, dotted.c_str(), &address.sin_addr) != 1) return false;
    u_long nonBlocking = 1;
    ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
    if (connect(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitFor(s.Get(), true, deadline)) return false;
        int error = 0;
        int length = sizeof error;
        getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        if (error != 0) return false;
    }
    const std::string request = VersionRequest(dotted, port);
    for (size_t sent = 0; sent < request.size();) {
        int n = send(s.Get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
            if (!WaitFor(s.Get(), true, deadline)) return false;
            continue;
        }
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    constexpr size_t kLimit = 1 << 20;  // an answer larger than this is no version answer
    std::string data;
    long long contentLength = -1;
    size_t headEnd = std::string::npos;
    for (;;) {
        if (headEnd != std::string::npos && contentLength >= 0 &&
            data.size() >= headEnd + 4 + static_cast<size_t>(contentLength))
            break;
        if (!WaitFor(s.Get(), false, deadline)) return false;
        char chunk[4096];
        int got = recv(s.Get(), chunk, sizeof chunk, 0);
        if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
        if (got <= 0) {
            if (headEnd != std::string::npos && contentLength < 0) break;  // length by end of stream
            return false;
        }
        data.append(chunk, static_cast<size_t>(got));
        if (data.size() > kLimit) return false;
        if (headEnd == std::string::npos) {
            headEnd = data.find("\r\n\r\n");
            if (headEnd == std::string::npos) continue;
            int status = 0;
            if (!ParseHttpHead(std::string_view(data).substr(0, headEnd), status, contentLength) || status != 200 ||
                contentLength > static_cast<long long>(kLimit))
                return false;
        }
    }
    body = data.substr(headEnd + 4, contentLength >= 0 ? static_cast<size_t>(contentLength) : std::string::npos);
    return true;
}

}  // namespace

std::wstring BrowserUrlFromEnvironment() {
    wchar_t buffer[2048];
    DWORD n = GetEnvironmentVariableW(kBrowserUrlVariable, buffer, 2048);
    if (n == 0 || n >= 2048) return {};
    return TrimSpace(std::wstring_view(buffer, n));
}

bool ResolveBrowserEndpoint(const std::wstring& named, Deadline deadline, EndpointAddress& webSocket,
                            std::wstring& error) {
    EndpointAddress address;
    if (!ParseEndpointAddress(ToUtf8(named), address)) {
        error = L"not an http:// or ws:// address: " + named;
        return false;
    }
    std::string dotted;
    if (!ResolveIPv4(address.host, dotted)) {
        error = L"cannot resolve the host of " + named;
        return false;
    }
    if (address.kind == EndpointAddress::Kind::WebSocket) {
        address.host = dotted;
        webSocket = std::move(address);
        return true;
    }
    std::string body;
    if (!FetchVersion(dotted, address.port, deadline, body)) {
        error = L"no DevTools answer at " + named + L"/json/version";
        return false;
    }
    address.host = dotted;
    if (!WebSocketFromVersionAnswer(body, address, webSocket)) {
        error = L"the answer of " + named + L"/json/version names no browser endpoint";
        return false;
    }
    return true;
}

}  // namespace wkechr
