// WKE_BROWSER_URL: which texts name an endpoint, and where its /json/version answer points.
#include <gtest/gtest.h>

#include "browser_endpoint.h"

using namespace wkechr;
using Kind = EndpointAddress::Kind;

TEST(BrowserEndpoint, Addresses) {
    struct Case {
        const char* text;
        bool ok;
        Kind kind;
        const char* host;
        int port;
        const char* path;
    } cases[] = {
        {"http://127.0.0.1:9222", true, Kind::Http, "127.0.0.1", 9222, "/"},
        {"http://127.0.0.1:9222/", true, Kind::Http, "127.0.0.1", 9222, "/"},
        {"HTTP://farm.example:9222/json/version", true, Kind::Http, "farm.example", 9222, "/"},
        {"http://localhost", true, Kind::Http, "localhost", 80, "/"},
        {"http://[::1]:9222", true, Kind::Http, "::1", 9222, "/"},
        {"ws://127.0.0.1:9222/devtools/browser/6b1e", true, Kind::WebSocket, "127.0.0.1", 9222, "/devtools/browser/6b1e"},
        {"ws://127.0.0.1:9222", false, Kind::WebSocket, "", 0, ""},  // a WebSocket needs the browser's path
        {"ws://127.0.0.1:9222/", false, Kind::WebSocket, "", 0, ""},
        {"https://127.0.0.1:9222", false, Kind::Http, "", 0, ""},
        {"wss://127.0.0.1:9222/devtools/browser/x", false, Kind::WebSocket, "", 0, ""},
        {"127.0.0.1:9222", false, Kind::Http, "", 0, ""},
        {"http://:9222", false, Kind::Http, "", 0, ""},
        {"http://host:", false, Kind::Http, "", 0, ""},
        {"http://host:0", false, Kind::Http, "", 0, ""},
        {"http://host:65536", false, Kind::Http, "", 0, ""},
        {"http://host:92a2", false, Kind::Http, "", 0, ""},
        {"http://user:pw@host:9222", false, Kind::Http, "", 0, ""},
        {"http://ho st:9222", false, Kind::Http, "", 0, ""},
        {"http://host:9222\r\nX: y", false, Kind::Http, "", 0, ""},
        {"http://[::1", false, Kind::Http, "", 0, ""},
        {"", false, Kind::Http, "", 0, ""},
    };
    for (const auto& c : cases) {
        EndpointAddress address;
        ASSERT_EQ(ParseEndpointAddress(c.text, address), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(address.kind, c.kind) << c.text;
        EXPECT_EQ(address.host, c.host) << c.text;
        EXPECT_EQ(address.port, c.port) << c.text;
        EXPECT_EQ(address.path, c.path) << c.text;
    }
}

TEST(BrowserEndpoint, VersionAnswerKeepsTheHostThatWasReached) {
    EndpointAddress asked;
    ASSERT_TRUE(ParseEndpointAddress("http://10.9.8.7:9333", asked));
    EndpointAddress ws;
    ASSERT_TRUE(WebSocketFromVersionAnswer(
        R"({"Browser":"x/1","webSocketDebuggerUrl":"ws://localhost:9222/devtools/browser/ab-cd"})", asked, ws));
    EXPECT_EQ(ws.kind, Kind::WebSocket);
    EXPECT_EQ(ws.host, "10.9.8.7");
    EXPECT_EQ(ws.port, 9222);
    EXPECT_EQ(ws.path, "/devtools/browser/ab-cd");
    EXPECT_EQ(EndpointText(ws), "ws://10.9.8.7:9222/devtools/browser/ab-cd");

    for (const char* bad : {"", "not json", "[]", R"({"Browser":"x"})", R"({"webSocketDebuggerUrl":7})",
                            R"({"webSocketDebuggerUrl":"http://h:1/devtools/browser/a"})"}) {
        EXPECT_FALSE(WebSocketFromVersionAnswer(bad, asked, ws)) << bad;
    }
}

TEST(BrowserEndpoint, VersionExchange) {
    EXPECT_EQ(VersionRequest("127.0.0.1", 9222),
              "GET /json/version HTTP/1.1\r\nHost: 127.0.0.1:9222\r\nAccept: application/json\r\n"
              "Connection: close\r\n\r\n");
    EXPECT_NE(VersionRequest("::1", 9222).find("Host: [::1]:9222\r\n"), std::string::npos);

    struct Case {
        const char* head;
        bool ok;
        int status;
        long long length;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length:  421 \r\nContent-Type: application/json", true, 200, 421},
        {"HTTP/1.0 404 Not Found", true, 404, -1},
        {"http/1.1 500 x\r\ncontent-length: 0", true, 500, 0},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12a", false, 0, 0},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999", false, 0, 0},
        {"HTTP/2 200", false, 0, 0},
        {"SSH-2.0-OpenSSH_9.2", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const auto& c : cases) {
        int status = 0;
        long long length = 0;
        ASSERT_EQ(ParseHttpHead(c.head, status, length), c.ok) << c.head;
        if (!c.ok) continue;
        EXPECT_EQ(status, c.status) << c.head;
        EXPECT_EQ(length, c.length) << c.head;
    }
}
