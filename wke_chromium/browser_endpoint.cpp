#include "browser_endpoint.h"

#include <nlohmann/json.hpp>

namespace wkechr {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool ParsePort(std::string_view digits, int& port) {
    if (digits.empty() || digits.size() > 5) return false;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value <= 0 || value > 65535) return false;
    port = value;
    return true;
}

bool HostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

}  // namespace

bool ParseEndpointAddress(std::string_view text, EndpointAddress& out) {
    EndpointAddress address;
    int defaultPort;
    if (StartsWithNoCase(text, "http://")) {
        address.kind = EndpointAddress::Kind::Http;
        text.remove_prefix(7);
        defaultPort = 80;
    } else if (StartsWithNoCase(text, "ws://")) {
        address.kind = EndpointAddress::Kind::WebSocket;
        text.remove_prefix(5);
        defaultPort = 80;
    } else {
        return false;
    }
    for (char c : text)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
    const size_t slash = text.find('/');
    std::string_view authority = text.substr(0, slash);
    std::string_view path = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
    if (authority.find('@') != std::string_view::npos) return false;

    std::string_view host, port;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) return false;
        host = authority.substr(1, close - 1);
        std::string_view rest = authority.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || rest.size() == 1)) return false;
        if (!rest.empty()) port = rest.substr(1);
        for (char c : host)
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':')) return false;
    } else {
        const size_t colon = authority.rfind(':');
        host = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = authority.substr(colon + 1);
            if (port.empty()) return false;
        }
        for (char c : host)
            if (!HostCharacter(c)) return false;
    }
    if (host.empty()) return false;
    address.port = defaultPort;
    if (!port.empty() && !ParsePort(port, address.port)) return false;
    address.host = std::string(host);

    if (path.find_first_of("?#") != std::string_view::npos && address.kind == EndpointAddress::Kind::Http) {
        path = path.substr(0, path.find_first_of("?#"));
    }
    if (address.kind == EndpointAddress::Kind::WebSocket) {
        if (path.size() <= 1) return false;
        address.path = std::string(path);
    } else {
        address.path = "/";
    }
    out = std::move(address);
    return true;
}

bool WebSocketFromVersionAnswer(std::string_view body, const EndpointAddress& asked, EndpointAddress& out) {
    nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (!answer.is_object()) return false;
    auto url = answer.find("webSocketDebuggerUrl");
    if (url == answer.end() || !url->is_string()) return false;
    EndpointAddress given;
    if (!ParseEndpointAddress(url->get<std::string>(), given) || given.kind != EndpointAddress::Kind::WebSocket)
        return false;
    given.host = asked.host;
    out = std::move(given);
    return true;
}

std::string VersionRequest(const std::string& hostHeader, int port) {
    const bool v6 = hostHeader.find(':') != std::string::npos;
    return "GET /json/version HTTP/1.1\r\nHost: " + (v6 ? "[" + hostHeader + "]" : hostHeader) + ":" +
           std::to_string(port) + "\r\nAccept: application/json\r\nConnection: close\r\n\r\n";
}

bool ParseHttpHead(std::string_view head, int& status, long long& contentLength) {
    if (!StartsWithNoCase(head, "http/1.") || head.size() < 12 || head[8] != ' ') return false;
    int code = 0;
    for (size_t i = 9; i < 12; ++i) {
        if (head[i] < '0' || head[i] > '9') return false;
        code = code * 10 + (head[i] - '0');
    }
    long long length = -1;
    size_t pos = head.find("\r\n");
    while (pos != std::string_view::npos) {
        const size_t start = pos + 2;
        const size_t next = head.find("\r\n", start);
        std::string_view line = head.substr(start, next == std::string_view::npos ? std::string_view::npos : next - start);
        if (StartsWithNoCase(line, "content-length:")) {
            std::string_view value = line.substr(15);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
            if (value.empty() || value.size() > 12) return false;
            long long n = 0;
            for (char c : value) {
                if (c < '0' || c > '9') return false;
                n = n * 10 + (c - '0');
            }
            length = n;
        }
        pos = next;
    }
    status = code;
    contentLength = length;
    return true;
}

std::string EndpointText(const EndpointAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    std::string host = v6 ? "[" + address.host + "]" : address.host;
    return (address.kind == EndpointAddress::Kind::Http ? "http://" : "ws://") + host + ":" +
           std::to_string(address.port) + address.path;
}

}  // namespace wkechr
