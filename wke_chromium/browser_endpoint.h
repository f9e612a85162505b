// Where an existing browser's DevTools endpoint is, as named by WKE_BROWSER_URL: either its HTTP
// address (whose /json/version gives the WebSocket address) or the WebSocket address itself.
#pragma once

#include <string>
#include <string_view>

namespace wkechr {

// Names a DevTools endpoint of a browser that already runs; the engine then starts none.
inline constexpr wchar_t kBrowserUrlVariable[] = L"WKE_BROWSER_URL";

struct EndpointAddress {
    enum class Kind { Http, WebSocket };
    Kind kind = Kind::Http;
    std::string host;  // a name or a dotted IPv4 address; brackets of an IPv6 literal removed
    int port = 0;
    std::string path;  // "/" for an HTTP address without one; the browser's path for a WebSocket
};

// "http://host:port[/]" or "ws://host:port/devtools/browser/<id>"; false for anything else
// (other schemes, user info, a bad port, a WebSocket address without a path, spaces, control bytes).
// HTTPS and secure WebSocket are not spoken: the engine talks plain WebSocket only.
bool ParseEndpointAddress(std::string_view text, EndpointAddress& out);

// The WebSocket address in a /json/version answer ("webSocketDebuggerUrl"). A browser behind a
// proxy or in a container names its own host there: when that host differs from the one asked,
// the one asked is kept (it is the one that is reachable) with the path and port the answer gives.
bool WebSocketFromVersionAnswer(std::string_view body, const EndpointAddress& asked, EndpointAddress& out);

// The request for /json/version at an HTTP address; `hostHeader` must be an IP address or
// "localhost": browsers refuse other Host headers on their DevTools endpoint.
std::string VersionRequest(const std::string& hostHeader, int port);
// The head of an HTTP answer (up to the blank line): its status code and Content-Length
// (-1 when absent). False when it is not an HTTP/1.x status line.
bool ParseHttpHead(std::string_view head, int& status, long long& contentLength);

// The address as text, for messages.
std::string EndpointText(const EndpointAddress& address);

}  // namespace wkechr
