// The browser process and the protocol session against the real browser, without the view layer.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

#include "browser_process.h"
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
