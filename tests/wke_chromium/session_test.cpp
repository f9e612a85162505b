// The browser process and the protocol session against the real browser, without the view layer.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

#include "browser_process.h"
#include "loopback_server.h"
#include "session.h"

using namespace wkechr;

namespace {

DWORD BrowserPidFrom(Session& session) {
    Reply info = session.Call("SystemInfo.getProcessInfo");
    if (!info.ok()) return 0;
    for (const auto& p : info.result["processInfo"])
        if (p.value("type", "") == "browser") return static_cast<DWORD>(p.value("id", 0));
    return 0;
}

class BrowserSession : public ::testing::Test {
protected:
    void SetUp() override {
        BrowserSearch search = FindBrowser();
        ASSERT_FALSE(search.found.empty()) << "no browser found";
        std::wstring error;
        ASSERT_TRUE(browser.Start(search.found, 30000, error)) << std::string(error.begin(), error.end());
        session.SetEventHandler([this](const std::string& method, const json& params, const std::string&) {
            std::lock_guard lock(eventsMutex);
            if (method == "Target.targetCreated") createdTypes.insert(params["targetInfo"].value("type", ""));
            ++events;
        });
        ASSERT_TRUE(session.Open(browser.Port(), browser.EndpointPath(), 10000));
        browser.SetPid(BrowserPidFrom(session));
        ASSERT_NE(browser.Pid(), 0u);
    }
    void TearDown() override {
        session.Close();
        browser.Cleanup();
    }

    BrowserProcess browser;
    Session session;
    std::mutex eventsMutex;
    std::set<std::string> createdTypes;
    std::atomic<int> events{0};
};

}  // namespace

TEST_F(BrowserSession, AnswersRequestsAndReportsProtocolErrors) {
    Reply version = session.Call("Browser.getVersion");
    ASSERT_TRUE(version.ok()) << version.error;
    EXPECT_NE(version.result.value("product", "").find("Chrome"), std::string::npos);

    Reply wrong = session.Call("No.suchMethod");
    EXPECT_FALSE(wrong.ok());
    EXPECT_FALSE(wrong.error.empty());

    // Many requests in flight at once each get their own answer.
    std::atomic<int> answered{0};
    for (int i = 0; i < 50; ++i)
        session.Send("Browser.getVersion", json::object(), {}, 10000, [&](Reply r) {
            if (r.ok()) ++answered;
        });
    EXPECT_TRUE(session.Call("Browser.getVersion").ok());
    for (int i = 0; i < 500 && answered < 50; ++i) Sleep(10);
    EXPECT_EQ(answered, 50);
}

TEST_F(BrowserSession, DeliversEvents) {
    ASSERT_TRUE(session.Call("Target.setDiscoverTargets", {{"discover", true}}).ok());
    Reply created = session.Call("Target.createTarget", {{"url", "about:blank"}});
    ASSERT_TRUE(created.ok());
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard lock(eventsMutex);
            if (createdTypes.count("page")) break;
        }
        Sleep(10);
    }
    std::lock_guard lock(eventsMutex);
    EXPECT_TRUE(createdTypes.count("page"));
}

TEST_F(BrowserSession, EveryRequestHasATimeLimit) {
    Reply target = session.Call("Target.createTarget", {{"url", "about:blank"}});
    Reply attached = session.Call("Target.attachToTarget", {{"targetId", target.result.value("targetId", "")}, {"flatten", true}});
    std::string page = attached.result.value("sessionId", "");
    ASSERT_FALSE(page.empty());
    DWORD start = GetTickCount();
    Reply busy = session.Call("Runtime.evaluate", {{"expression", "const t=Date.now();while(Date.now()-t<3000);1"}}, page, 300);
    EXPECT_FALSE(busy.ok());
    EXPECT_EQ(busy.status, Status::TimedOut);
    EXPECT_LT(GetTickCount() - start, 2900u) << "the limit did not end the wait";
    // The late answer is dropped and the session goes on.
    Reply after = session.Call("Runtime.evaluate", {{"expression", "6*7"}, {"returnByValue", true}}, page, 10000);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(after.result["result"].value("value", 0), 42);
}

TEST_F(BrowserSession, CloseEndsTheBrowserAndLeavesNoProfile) {
    DWORD pid = browser.Pid();
    EXPECT_TRUE(ProcessAlive(pid));
    std::wstring profile = browser.ProfileFolder();
    EXPECT_NE(GetFileAttributesW(profile.c_str()), INVALID_FILE_ATTRIBUTES);

    session.Call("Browser.close", json::object(), {}, 5000);
    for (int i = 0; i < 500 && session.Alive(); ++i) Sleep(10);
    EXPECT_FALSE(session.Alive());
    // Pending and later requests fail at once instead of waiting.
    Reply late = session.Call("Browser.getVersion", json::object(), {}, 60000);
    EXPECT_FALSE(late.ok());
    EXPECT_TRUE(browser.WaitForExit(10000));
    browser.Cleanup();
    EXPECT_FALSE(ProcessAlive(pid));
    EXPECT_EQ(GetFileAttributesW(profile.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(BrowserSession, AKilledBrowserIsNoticed) {
    DWORD pid = browser.Pid();
    std::atomic<bool> failed{false};
    session.Send("Runtime.evaluate", {{"expression", "1"}}, "no-such-session-yet", 60000, [&](Reply r) {
        if (!r.ok()) failed = true;
    });
    browser.Kill();
    for (int i = 0; i < 1000 && session.Alive(); ++i) Sleep(10);
    EXPECT_FALSE(session.Alive());
    EXPECT_FALSE(ProcessAlive(pid));
    std::wstring profile = browser.ProfileFolder();
    browser.Cleanup();
    EXPECT_EQ(GetFileAttributesW(profile.c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---- the transport's faults, against a peer in this process ----------------------------------

namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
    for (DWORD start = GetTickCount(); !done(); Sleep(10))
        if (GetTickCount() - start > static_cast<DWORD>(ms)) return false;
    return true;
}

// Counts the runs of each request's callback and keeps the last outcome.
struct Outcomes {
    std::mutex m;
    std::map<int, std::pair<int, Status>> runs;

    Session::Callback For(int request) {
        return [this, request](Reply reply) {
            std::lock_guard lock(m);
            auto& [count, status] = runs[request];
            ++count;
            status = reply.status;
        };
    }
    size_t Finished() {
        std::lock_guard lock(m);
        return runs.size();
    }
};

}  // namespace

TEST(SessionTransport, ASendFromTheReaderToAPeerThatDoesNotReadStopsNoDeadline) {
    wketest::LoopbackServer server;
    std::atomic<bool> release{false};
    server.SetHandler([&](SOCKET client) {
        if (!wketest::AcceptWebSocket(client)) return;
        // Asks for a flood of large messages, then goes on writing but never reads again.
        wketest::SendAllBytes(client, wketest::ServerFrame(kWsText, R"({"method":"Test.flood","params":{}})"));
        Sleep(300);
        wketest::SendAllBytes(client, wketest::ServerFrame(kWsText, R"({"method":"Test.later","params":{}})"));
        while (!release) Sleep(10);
    });
    ASSERT_TRUE(server.Start());

    Session session;
    std::atomic<bool> flooded{false}, later{false};
    session.SetEventHandler([&](const std::string& method, const json&, const std::string&) {
        if (method == "Test.flood") {
            // Far more than the socket buffers take: a send that waited would stop the reader here.
            for (int i = 0; i < 4; ++i)
                session.Send("Test.big", {{"blob", std::string(8 << 20, 'x')}}, {}, 60000, nullptr);
            flooded = true;
        }
        if (method == "Test.later") later = true;
    });
    ASSERT_TRUE(session.Open(server.Port(), "/devtools/browser/test", 5000));
    EXPECT_TRUE(WaitFor([&] { return flooded.load(); })) << "a send from the reader waited for the peer";
    EXPECT_TRUE(WaitFor([&] { return later.load(); })) << "the reader stopped reading";

    Outcomes outcomes;
    session.Send("Test.noAnswer", json::object(), {}, 300, outcomes.For(0));
    session.Send("Test.noAnswer", json::object(), {}, 600, outcomes.For(1));
    EXPECT_TRUE(WaitFor([&] { return outcomes.Finished() == 2; })) << "a deadline was not enforced";
    EXPECT_EQ(session.Call("Test.noAnswer", json::object(), {}, 200).status, Status::TimedOut);
    EXPECT_TRUE(session.Alive());

    DWORD start = GetTickCount();
    session.Close();  // the writer is still stuck in the first large message
    EXPECT_LT(GetTickCount() - start, 10000u);
    release = true;
    server.Stop();
    std::lock_guard lock(outcomes.m);
    for (auto& [request, run] : outcomes.runs) {
        EXPECT_EQ(run.first, 1) << request;
        EXPECT_EQ(run.second, Status::TimedOut) << request;
    }
}

TEST(SessionTransport, ACloseInTheMiddleOfALargeMessageFailsEveryPendingRequestOnce) {
    wketest::LoopbackServer server;
    server.SetHandler([&](SOCKET client) {
        if (!wketest::AcceptWebSocket(client)) return;
        uint8_t opcode;
        std::string request;
        bool finalMasked;
        if (!wketest::ReceiveClientFrame(client, opcode, request, finalMasked)) return;
        json parsed = json::parse(request, nullptr, false);
        std::string answer = json{{"id", parsed.value("id", 0)}, {"result", {{"fine", true}}}}.dump();
        // The answer, then a 20 MB message of which only the start comes before the end.
        std::string big = wketest::ServerFrame(kWsText, std::string(20 << 20, 'y'));
        big.resize(3 << 20);
        wketest::SendAllBytes(client, wketest::ServerFrame(kWsText, answer) + big);
        Sleep(200);
    });
    ASSERT_TRUE(server.Start());

    Session session;
    ASSERT_TRUE(session.Open(server.Port(), "/", 5000));
    Outcomes outcomes;
    for (int i = 0; i < 6; ++i) session.Send("Test.request", json::object(), {}, 60000, outcomes.For(i));
    EXPECT_TRUE(WaitFor([&] { return outcomes.Finished() == 6; }));
    EXPECT_TRUE(WaitFor([&] { return !session.Alive(); }));
    session.Send("Test.afterwards", json::object(), {}, 60000, outcomes.For(6));
    session.Close();
    server.Stop();

    std::lock_guard lock(outcomes.m);
    ASSERT_EQ(outcomes.runs.size(), 7u);
    for (auto& [request, run] : outcomes.runs) {
        EXPECT_EQ(run.first, 1) << request;
        EXPECT_EQ(run.second, request == 0 ? Status::Ok : Status::Closed) << request;
    }
}

TEST(SessionTransport, ClosedFromItsOwnReaderEveryCallbackRunsOnce) {
    wketest::LoopbackServer server;
    std::atomic<bool> release{false};
    server.SetHandler([&](SOCKET client) {
        if (!wketest::AcceptWebSocket(client)) return;
        uint8_t opcode;
        std::string request;
        bool finalMasked;
        // The event that makes the client close comes after the client's three requests.
        for (int i = 0; i < 3; ++i)
            if (!wketest::ReceiveClientFrame(client, opcode, request, finalMasked)) return;
        wketest::SendAllBytes(client, wketest::ServerFrame(kWsText, R"({"method":"Test.closeNow"})"));
        while (!release) Sleep(10);
    });
    ASSERT_TRUE(server.Start());

    Session session;
    Outcomes outcomes;
    std::atomic<bool> closedInHandler{false};
    session.SetEventHandler([&](const std::string& method, const json&, const std::string&) {
        if (method != "Test.closeNow") return;
        session.Close();
        session.Send("Test.fromHandler", json::object(), {}, 60000, outcomes.For(3));
        closedInHandler = true;
    });
    ASSERT_TRUE(session.Open(server.Port(), "/", 5000));
    // The first one's callback closes the session again, from the thread that fails it.
    session.Send("Test.request", json::object(), {}, 60000, [&](Reply reply) {
        outcomes.For(0)(std::move(reply));
        session.Close();
    });
    for (int i = 1; i < 3; ++i) session.Send("Test.request", json::object(), {}, 60000, outcomes.For(i));
    EXPECT_TRUE(WaitFor([&] { return closedInHandler.load(); }));
    EXPECT_TRUE(WaitFor([&] { return outcomes.Finished() == 4; }));
    session.Close();
    release = true;
    server.Stop();
    EXPECT_FALSE(session.Alive());
    std::lock_guard lock(outcomes.m);
    for (auto& [request, run] : outcomes.runs) {
        EXPECT_EQ(run.first, 1) << request;
        EXPECT_EQ(run.second, Status::Closed) << request;
    }
}
