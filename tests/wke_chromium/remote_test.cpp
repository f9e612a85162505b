// The engine on a browser that already runs (WKE_BROWSER_URL): this test starts a Chromium on
// loopback itself, points the engine at it, and checks that the engine starts no browser of its
// own, renders through the shared one, closes only its own pages at the end, and reports a lost
// browser as failed loads instead of quietly starting a local one.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "browser_process.h"
#include "engine.h"
#include "linux_processes.h"
#include "loopback_server.h"
#include "session.h"
#include "test_pages.h"
#include "text.h"

using wketest::PumpUntil;

namespace {

// The pages (targets) of type "page" the shared browser holds, seen over a session of the test's own.
int PageTargets(wkechr::Session& session, const std::string& url) {
    wkechr::Reply reply = session.Call("Target.getTargets", wkechr::json::object(), {}, 10000);
    if (!reply.ok() || !reply.result.contains("targetInfos")) return -1;
    int count = 0;
    for (const auto& info : reply.result["targetInfos"])
        if (info.value("type", "") == "page" && (url.empty() || info.value("url", "") == url)) ++count;
    return count;
}

class RemoteBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start());
        wkechr::BrowserSearch search = wkechr::FindBrowser();
        ASSERT_FALSE(search.found.empty()) << "no browser to share";
        std::wstring error;
        ASSERT_TRUE(shared_.Start(search.found, 30000, error)) << wkechr::ToUtf8(error);
        ASSERT_TRUE(own_.Open(shared_.Port(), shared_.EndpointPath(), 10000));
        const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(shared_.Port());
        SetEnvironmentVariableW(L"WKE_BROWSER_URL", url.c_str());
        before_ = wketest::BrowserPids();
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"WKE_BROWSER_URL", nullptr);
        own_.Close();
        shared_.Cleanup();
        server_.Stop();
    }

    wketest::LoopbackServer server_;
    wkechr::BrowserProcess shared_;
    wkechr::Session own_;
    std::set<DWORD> before_;
};

}  // namespace

TEST_F(RemoteBrowser, RendersThroughItAndClosesOnlyItsOwnPages) {
    const int pagesBefore = PageTargets(own_, "");
    ASSERT_GE(pagesBefore, 0);
    server_.AddPage("/blue.html",
                    "<!DOCTYPE html><html><body style='margin:0;background:#1e90c8'><title>shared</title></body></html>");
    const std::string address = server_.Url("/blue.html");

    wkeInit();
    wkeWebView view = wkeCreateWebView();
    ASSERT_NE(view, nullptr) << "no view on the shared browser";
    EXPECT_EQ(wketest::BrowserPids(), before_) << "the engine started a browser of its own";

    wkeResize(view, 64, 48);
    std::wstring wide = wkechr::FromUtf8(address);
    wkeLoadURLW(view, wide.c_str());
    ASSERT_TRUE(PumpUntil([&] { return (wkeIsLoadComplete(view) & 0xFF) != 0; }, 60000));
    EXPECT_TRUE(wkeIsLoaded(view) & 0xFF);
    EXPECT_EQ(std::wstring(wkeTitleW(view) ? wkeTitleW(view) : L""), L"shared");
    std::vector<uint32_t> pixels(64 * 48, 0);
    wkePaint(view, pixels.data(), 0);
    EXPECT_EQ(pixels[24 * 64 + 32] & 0xFFFFFF, 0x1E90C8u);
    EXPECT_EQ(PageTargets(own_, address), 1);

    wkeDestroyWebView(view);
    wkeShutdown();
    EXPECT_TRUE(shared_.Running()) << "shutdown closed the shared browser";
    EXPECT_TRUE(own_.Alive());
    EXPECT_TRUE(PumpUntil([&] { return PageTargets(own_, address) == 0; }, 10000)) << "its page was left open";
    EXPECT_EQ(PageTargets(own_, ""), pagesBefore) << "a page that was not the engine's was closed";
}

TEST_F(RemoteBrowser, ALostBrowserFailsLoadsAndNoLocalOneStarts) {
    server_.AddPage("/page.html", "<!DOCTYPE html><title>p</title><p>p</p>");
    wkeInit();
    wkeWebView view = wkeCreateWebView();
    ASSERT_NE(view, nullptr);
    const std::wstring wide = wkechr::FromUtf8(server_.Url("/page.html"));
    wkeLoadURLW(view, wide.c_str());
    ASSERT_TRUE(PumpUntil([&] { return (wkeIsLoadComplete(view) & 0xFF) != 0; }, 60000));

    own_.Close();
    shared_.Kill();
    ASSERT_FALSE(shared_.Running());
    wkeLoadURLW(view, wide.c_str());
    const DWORD start = GetTickCount();
    ASSERT_TRUE(PumpUntil([&] { return (wkeIsLoadComplete(view) & 0xFF) != 0; }, 60000));
    EXPECT_TRUE(wkeIsLoadFailed(view) & 0xFF) << "a load without a browser was reported as loaded";
    EXPECT_LT(GetTickCount() - start, 20000u) << "the entries waited long for a browser that is gone";
    std::set<DWORD> now = wketest::BrowserPids();
    for (DWORD pid : before_) now.erase(pid);
    EXPECT_TRUE(now.empty()) << "a local browser was started in place of the lost one";
    wkeDestroyWebView(view);
    wkeShutdown();
}
