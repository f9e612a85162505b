// The layers below the browser: text helpers and the WebSocket transport against a loopback
// server in this process.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "browser_process.h"
#include "loopback_server.h"
#include "text.h"
#include "websocket.h"

using namespace wkechr;
using wketest::LoopbackServer;

TEST(Text, Utf8RoundTripAndRepair) {
    const std::wstring text = L"A\u4E2D\u6587\U0001F600z";
    EXPECT_EQ(ToUtf8(text), std::string("A\xE4\xB8\xAD\xE6\x96\x87\xF0\x9F\x98\x80z"));
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    // A lone surrogate and broken UTF-8 become U+FFFD instead of failing.
    EXPECT_EQ(ToUtf8(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(FromUtf8("a\xC3"), L"a\uFFFD");
    EXPECT_EQ(FromUtf8("\xE4\xB8"), L"\uFFFD\uFFFD");
    EXPECT_EQ(FromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");  // overlong
}

TEST(Text, TypedAddresses) {
    struct Case {
        const wchar_t* typed;
        const char* address;
    } cases[] = {
        {L"  example.com \t", "http://example.com"},
        {L"\t127.0.0.1:8080/a b", "http://127.0.0.1:8080/a b"},
        {L"localhost:3000", "http://localhost:3000"},
        {L"https://x.org/p?q=1", "https://x.org/p?q=1"},
        {L"FILE:///tmp/a.html", "FILE:///tmp/a.html"},
        {L"about:blank", "about:blank"},
        {L"data:text/html,hi", "data:text/html,hi"},
        {L"", "about:blank"},
        {L" \t\r\n\u3000", "about:blank"},
        {L"C:\\pages\\a b.html", "file:///C:/pages/a%20b.html"},
        {L"\u4E2D\u6587.com", "http://\xE4\xB8\xAD\xE6\x96\x87.com"},
    };
    for (const auto& c : cases) EXPECT_EQ(AddressFromTyped(c.typed), c.address) << ToUtf8(c.typed);
    EXPECT_EQ(FileUrlFromPath(L"/tmp/x/\u4E2D.html"), "file:///tmp/x/%E4%B8%AD.html");
}

TEST(Text, Base64AndHandshakeKey) {
    struct Case {
        const char* plain;
        const char* encoded;
    } cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Base64Encode(c.plain), c.encoded);
        std::string back;
        ASSERT_TRUE(Base64Decode(c.encoded, back));
        EXPECT_EQ(back, c.plain);
    }
    std::string out;
    EXPECT_FALSE(Base64Decode("Zm9v!", out));
    // The example of the WebSocket standard.
    EXPECT_EQ(WebSocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

// ---- transport ------------------------------------------------------------------------------

namespace {

// Accepts the upgrade (optionally with a wrong key), then runs `then` on the connection.
void ServeWebSocket(LoopbackServer& server, bool goodAccept, std::function<void(SOCKET)> then) {
    server.SetHandler([goodAccept, then](SOCKET client) {
        std::string head;
        if (!wketest::ReceiveHead(client, head)) return;
        std::string key = wketest::HeaderValue(head, "Sec-WebSocket-Key");
        std::string accept = goodAccept ? WebSocketAccept(key) : std::string("AAAAAAAAAAAAAAAAAAAAAAAAAAA=");
        wketest::SendAllBytes(client, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                      "Connection: Upgrade\r\nSec-WebSocket-Accept: " + accept + "\r\n\r\n");
        if (then) then(client);
    });
}

// Reads one client frame; checks that it is final and masked and unmasks it.
bool ReadClientFrame(SOCKET client, uint8_t& opcode, std::string& payload, bool& finalMasked) {
    std::string head;
    if (!wketest::ReceiveExact(client, head, 2)) return false;
    opcode = head[0] & 0x0F;
    finalMasked = (head[0] & 0x80) && (head[1] & 0x80);
    uint64_t length = head[1] & 0x7F;
    std::string ext;
    if (length == 126) {
        wketest::ReceiveExact(client, ext, 2);
        length = (uint8_t(ext[0]) << 8) | uint8_t(ext[1]);
    } else if (length == 127) {
        wketest::ReceiveExact(client, ext, 8);
        length = 0;
        for (char c : ext) length = (length << 8) | uint8_t(c);
    }
    std::string mask;
    if (!wketest::ReceiveExact(client, mask, 4)) return false;
    if (!wketest::ReceiveExact(client, payload, static_cast<size_t>(length))) return false;
    for (size_t i = 0; i < payload.size(); ++i) payload[i] ^= mask[i & 3];
    return true;
}

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

}  // namespace

TEST(Transport, SendsEachMessageAsOneMaskedFrameOfAnyLength) {
    LoopbackServer server;
    std::vector<std::pair<uint8_t, std::string>> seen;
    std::atomic<bool> allFinalMasked{true};
    ServeWebSocket(server, true, [&](SOCKET client) {
        for (int i = 0; i < 4; ++i) {
            uint8_t opcode;
            std::string payload;
            bool finalMasked;
            if (!ReadClientFrame(client, opcode, payload, finalMasked)) return;
            if (!finalMasked) allFinalMasked = false;
            seen.emplace_back(opcode, payload);
        }
    });
    ASSERT_TRUE(server.Start());
    WebSocket socket;
    ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), "/devtools/browser/x", 5000));
    const std::vector<std::string> messages = {"", Pattern(125), Pattern(65535), Pattern(3 << 20)};
    for (const auto& m : messages) ASSERT_TRUE(socket.SendText(m));
    server.Stop();
    ASSERT_EQ(seen.size(), messages.size());
    EXPECT_TRUE(allFinalMasked);
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(seen[i].first, kWsText);
        EXPECT_EQ(seen[i].second, messages[i]) << "message " << i;
    }
}

TEST(Transport, ReceivesShortLongFragmentedAndAnswersPings) {
    LoopbackServer server;
    const std::string big = Pattern(5 << 20);  // needs the 64-bit length
    std::string pong;
    ServeWebSocket(server, true, [&](SOCKET client) {
        std::string bytes = wketest::ServerFrame(kWsText, "short") + wketest::ServerFrame(kWsText, Pattern(300)) +
                            wketest::ServerFrame(kWsText, Pattern(70000)) + wketest::ServerFrame(kWsText, big) +
                            wketest::ServerFrame(kWsPing, "p1") + wketest::ServerFrame(kWsText, "frag-", false) +
                            wketest::ServerFrame(kWsContinuation, "ment", false) +
                            wketest::ServerFrame(kWsContinuation, "ed", true) + wketest::ServerFrame(kWsClose, "\x03\xe8");
        // Sent in odd slices so that frames straddle reads.
        for (size_t at = 0; at < bytes.size(); at += 9973) {
            wketest::SendAllBytes(client, bytes.substr(at, 9973));
            if (at < 50000) Sleep(1);
        }
        uint8_t opcode = 0;
        bool finalMasked;
        std::string payload;
        while (ReadClientFrame(client, opcode, payload, finalMasked))
            if (opcode == kWsPong) pong = payload;
    });
    ASSERT_TRUE(server.Start());
    WebSocket socket;
    ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), "/", 5000));
    std::vector<std::string> expected = {"short", Pattern(300), Pattern(70000), big, "frag-mented"};
    for (size_t i = 0; i < expected.size(); ++i) {
        std::string message;
        ASSERT_EQ(socket.Receive(message, 10000), WebSocket::Status::Message) << i;
        EXPECT_EQ(message.size(), expected[i].size()) << i;
        EXPECT_TRUE(message == expected[i]) << i;
    }
    std::string message;
    EXPECT_EQ(socket.Receive(message, 10000), WebSocket::Status::Closed);
    EXPECT_EQ(socket.Receive(message, 10), WebSocket::Status::Closed);
    EXPECT_FALSE(socket.SendText("after close"));
    socket.Shutdown();
    server.Stop();
    EXPECT_EQ(pong, "p1");
}

TEST(Transport, RefusesABadHandshakeAndNoListener) {
    {
        LoopbackServer server;
        ServeWebSocket(server, false, nullptr);
        ASSERT_TRUE(server.Start());
        WebSocket socket;
        EXPECT_FALSE(socket.Connect("127.0.0.1", server.Port(), "/", 5000));
    }
    {
        LoopbackServer server;  // an ordinary HTTP server answers 404
        ASSERT_TRUE(server.Start());
        WebSocket socket;
        EXPECT_FALSE(socket.Connect("127.0.0.1", server.Port(), "/", 5000));
    }
    {
        int port;
        {
            LoopbackServer server;
            ASSERT_TRUE(server.Start());
            port = server.Port();
        }
        WebSocket socket;
        EXPECT_FALSE(socket.Connect("127.0.0.1", port, "/", 5000));
    }
}

TEST(Transport, ReceiveTimesOutAndShutdownWakesIt) {
    LoopbackServer server;
    std::atomic<bool> release{false};
    ServeWebSocket(server, true, [&](SOCKET) {
        while (!release) Sleep(10);
    });
    ASSERT_TRUE(server.Start());
    WebSocket socket;
    ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), "/", 5000));
    std::string message;
    EXPECT_EQ(socket.Receive(message, 100), WebSocket::Status::Timeout);
    std::thread waker([&] {
        Sleep(200);
        socket.Shutdown();
    });
    EXPECT_EQ(socket.Receive(message, 60000), WebSocket::Status::Closed);
    waker.join();
    release = true;
    server.Stop();
}
