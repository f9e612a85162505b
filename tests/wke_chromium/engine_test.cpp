// The wke entries against the real browser, on pages served from 127.0.0.1 by this process or
// written to files. One browser serves the whole program (wkeInit / wkeShutdown around it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "browser_process.h"
#include "deadline.h"
#include "engine.h"
#include "engine_limits.h"
#include "loopback_server.h"
#include "test_pages.h"
#include "text.h"

using wketest::PumpUntil;
using wkechr::Millis;
using wkechr::NowMillis;

namespace {

wketest::LoopbackServer* g_server = nullptr;
DWORD g_uiThread = 0;

class EngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        g_uiThread = GetCurrentThreadId();
        server_ = std::make_unique<wketest::LoopbackServer>();
        ASSERT_TRUE(server_->Start());
        g_server = server_.get();
        wkeInit();
    }
    void TearDown() override {
        wkeShutdown();
        server_->Stop();
        g_server = nullptr;
    }

private:
    std::unique_ptr<wketest::LoopbackServer> server_;
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

std::wstring Wide(const std::string& utf8) { return wkechr::FromUtf8(utf8); }

bool WaitComplete(wkeWebView view) {
    return PumpUntil([&] { return (wkeIsLoadComplete(view) & 0xFF) != 0; }, 90000);
}

// Times the entries a test calls, as the program's UI thread would see them.
struct EntryClock {
    Millis longest = 0;
    std::string which;

    template <typename F>
    auto operator()(const char* name, F&& entry) {
        const Millis start = NowMillis();
        struct Note {
            EntryClock& clock;
            const char* name;
            Millis start;
            ~Note() {
                const Millis took = NowMillis() - start;
                if (took > clock.longest) {
                    clock.longest = took;
                    clock.which = name;
                }
            }
        } note{*this, name, start};
        return entry();
    }
    std::string Report() const { return std::to_string(longest) + " ms in " + which; }
};

// Longest an entry other than a whole-page paint may take: the engine's 2 s, with room for a
// loaded machine; only a hang goes past it.
constexpr Millis kEntryGuardMs = wkechr::limits::kUiCallMs + 1500;

std::wstring Title(wkeWebView view) {
    const wchar_t* title = wkeTitleW(view);
    return title ? title : L"(null)";
}

class EngineView : public ::testing::Test {
protected:
    void SetUp() override {
        view = wkeCreateWebView();
        ASSERT_NE(view, nullptr) << "no view: the browser did not start";
    }
    void TearDown() override { wkeDestroyWebView(view); }

    // Serves `html` at `path` and loads it as the user would type it.
    void LoadServed(const std::string& path, const std::string& html) {
        g_server->AddPage(path, html);
        std::wstring typed = L"  \t" + Wide(g_server->Url(path).substr(7)) + L" \t";  // no scheme, spaces
        wkeLoadURLW(view, typed.c_str());
        ASSERT_TRUE(WaitComplete(view));
        ASSERT_TRUE(wkeIsLoaded(view) & 0xFF);
    }

    wkeWebView view = nullptr;
};

}  // namespace

TEST(EngineNoView, ViewZeroDoesNothing) {
    wkeWebView none = nullptr;
    uint8_t pixel[4] = {1, 2, 3, 4};
    wkeResize(none, 10, 10);
    wkePaint(none, pixel, 0);
    wkeLoadURLW(none, L"http://127.0.0.1/");
    wkeLoadHTMLW(none, L"<p>x");
    wkeLoadFileW(none, L"C:\\x.html");
    wkeSetDirty(none, 1);
    wkeSetClientHandler(none, nullptr);
    wkeReload(none);
    wkeStopLoading(none);
    wkeFocus(none);
    wkeSetZoomFactor(none, 2.0f);
    EXPECT_EQ(pixel[0], 1);
    EXPECT_EQ(wkeWidth(none), 0);
    EXPECT_EQ(wkeHeight(none), 0);
    EXPECT_EQ(wkeContentsWidth(none), 0);
    EXPECT_EQ(wkeContentsHeight(none), 0);
    EXPECT_EQ(wkeIsDirty(none), 0);
    EXPECT_EQ(wkeIsLoaded(none), 0);
    EXPECT_EQ(wkeIsLoadFailed(none), 0);
    EXPECT_EQ(wkeIsLoadComplete(none), 1);
    EXPECT_EQ(wkeIsDocumentReady(none), 0);
    EXPECT_EQ(wkeTitleW(none), nullptr);
    EXPECT_EQ(wkeKeyDown(none, 'A', 0, 0), 0);
    EXPECT_EQ(wkeMouseEvent(none, WM_LBUTTONDOWN, 1, 1, WKE_LBUTTON), 0);
    EXPECT_EQ(wkeCanGoBack(none), 0);
    EXPECT_EQ(wkeGoBack(none), 0);
    EXPECT_EQ(wkeCookieEnabled(none), 0);
    EXPECT_EQ(wkeMediaVolume(none), 0.0f);
    EXPECT_EQ(wkeZoomFactor(none), 0.0f);
    EXPECT_EQ(wkeRunJSW(none, L"1"), 0);
    EXPECT_EQ(wkeRunJS(none, "1"), 0);
    wkeRect caret = wkeGetCaret(none);
    EXPECT_EQ(caret.x | caret.y | caret.w | caret.h, 0);
    // A handle that was never made is no view either.
    EXPECT_EQ(wkeIsLoadComplete(reinterpret_cast<wkeWebView>(uintptr_t(0x7777))), 1);
    EXPECT_EQ(wkeTitleW(reinterpret_cast<wkeWebView>(uintptr_t(0x7777))), nullptr);
}

TEST_F(EngineView, LoadsTypedAddressAndReadsTitle) {
    int before = g_server->Requests();
    LoadServed("/hello.html", "<html><head><title>Hello page</title></head><body>hi</body></html>");
    EXPECT_GT(g_server->Requests(), before);
    EXPECT_EQ(wkeIsLoadFailed(view), 0);
    EXPECT_EQ(wkeIsDocumentReady(view), 1);
    EXPECT_EQ(Title(view), L"Hello page");
    // The returned text stays the engine's until the next call.
    const wchar_t* first = wkeTitleW(view);
    std::wstring copy = first;
    EXPECT_EQ(copy, L"Hello page");
}

TEST_F(EngineView, ChineseTitleRoundTrip) {
    const std::string title = "中文标题：网页截图 ✓";
    std::wstring path = wketest::WriteTempFile(L"wke-\u4E2D\u6587.html",
                                               "<html><head><meta charset=\"utf-8\"><title>" + title + "</title></head></html>");
    ASSERT_FALSE(path.empty());
    wkeLoadFileW(view, path.c_str());
    ASSERT_TRUE(WaitComplete(view));
    EXPECT_EQ(wkeIsLoaded(view), 1);
    EXPECT_EQ(Title(view), Wide(title));

    std::wstring html = L"<title>\u4E0A\u6D77 \U0001F600</title>";
    wkeLoadHTMLW(view, html.c_str());
    ASSERT_TRUE(WaitComplete(view));
    EXPECT_EQ(Title(view), L"\u4E0A\u6D77 \U0001F600");
}

TEST_F(EngineView, ContentsSizeIsTheWholePage) {
    LoadServed("/size.html", "<html><body style='margin:0'><div style='width:1234px;height:5678px'></div></body></html>");
    EXPECT_EQ(wkeWidth(view), 800);
    EXPECT_EQ(wkeHeight(view), 600);
    EXPECT_EQ(wkeContentsWidth(view), 1234);
    EXPECT_EQ(wkeContentsHeight(view), 5678);
    wkeResize(view, 1500, 700);
    EXPECT_EQ(wkeWidth(view), 1500);
    EXPECT_EQ(wkeHeight(view), 700);
    EXPECT_EQ(wkeContentsWidth(view), 1500);
    EXPECT_EQ(wkeContentsHeight(view), 5678);
}

TEST_F(EngineView, PaintsTallPagesWholeAndExact) {
    struct Case {
        int width;
        int height;
    } cases[] = {{800, 40000}, {800, 200000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.height);
        std::wstring path = wketest::WriteTempFile(L"bands-" + std::to_wstring(c.height) + L".html",
                                                   wketest::BandPage(c.width, c.height));
        wkeLoadFileW(view, path.c_str());
        ASSERT_TRUE(WaitComplete(view));
        const int w = wkeContentsWidth(view), h = wkeContentsHeight(view);
        ASSERT_EQ(w, c.width);
        ASSERT_EQ(h, c.height);
        wkeResize(view, w, h);
        const size_t size = static_cast<size_t>(w) * h * 4;
        std::unique_ptr<uint8_t[]> memory(new uint8_t[size + 8]);
        std::memset(memory.get(), 0x5A, size + 8);
        uint8_t* bits = memory.get() + 1;  // any address, not only aligned ones
        wkePaint(view, bits, 0);
        std::string where;
        EXPECT_TRUE(wketest::BandFrameMatches(bits, w, h, static_cast<size_t>(w) * 4, where)) << where;
        EXPECT_EQ(memory[0], 0x5A);
        EXPECT_EQ(bits[size], 0x5A) << "wrote past the frame";
        wkeResize(view, 800, 600);
    }
}

TEST_F(EngineView, PaintHonoursPitch) {
    std::wstring path = wketest::WriteTempFile(L"bands-small.html", wketest::BandPage(300, 500));
    wkeLoadFileW(view, path.c_str());
    ASSERT_TRUE(WaitComplete(view));
    wkeResize(view, 300, 500);
    const size_t pitch = 300 * 4 + 12;
    std::vector<uint8_t> memory(pitch * 500, 0x5A);
    wkePaint(view, memory.data(), static_cast<int>(pitch));
    std::string where;
    EXPECT_TRUE(wketest::BandFrameMatches(memory.data(), 300, 500, pitch, where)) << where;
    for (int y = 0; y < 500; ++y)
        for (size_t gap = 300 * 4; gap < pitch; ++gap) ASSERT_EQ(memory[y * pitch + gap], 0x5A) << "row " << y;
}

TEST_F(EngineView, DirtyFollowsFramesAndSizeChanges) {
    LoadServed("/dirty.html", "<html><body style='margin:0;background:#fff'></body></html>");
    auto settle = [] { PumpUntil([] { return false; }, 1000); };
    std::vector<uint8_t> frame(800 * 600 * 4);
    settle();
    wkePaint(view, frame.data(), 0);
    EXPECT_EQ(wkeIsDirty(view), 0);
    settle();
    EXPECT_EQ(wkeIsDirty(view), 0) << "the paint itself counted as a new frame";
    wkeResize(view, 800, 600);
    EXPECT_EQ(wkeIsDirty(view), 0) << "a resize to the same size made it dirty";
    wkeResize(view, 640, 480);
    EXPECT_EQ(wkeIsDirty(view), 1);
    settle();
    wkePaint(view, frame.data(), 0);
    EXPECT_EQ(wkeIsDirty(view), 0);
    wkeSetDirty(view, 1);
    EXPECT_EQ(wkeIsDirty(view), 1);
    wkeSetDirty(view, 0);
    // A change of the page's pixels shows up as a new frame.
    std::atomic<bool> stop{false};
    std::atomic<int> seenFromPump{0};
    std::thread pump([&] {
        while (!stop) {
            if (wkeIsDirty(view) & 0xFF) ++seenFromPump;
            Sleep(10);
        }
    });
    wkeRunJSW(view, L"document.body.style.background='rgb(10,200,30)'");
    wkePaint(view, frame.data(), 0);  // the script's own mark cleared; the frame comes later or now
    bool dirtyAgain = PumpUntil([&] { return (wkeIsDirty(view) & 0xFF) || frame[1] == 200; }, 20000);
    stop = true;
    pump.join();
    EXPECT_TRUE(dirtyAgain);
}

TEST_F(EngineView, UnreachableAddressesComplete) {
    for (const wchar_t* address : {L"http://127.0.0.1:1/", L"http://nonexistent-host.invalid/"}) {
        SCOPED_TRACE(wkechr::ToUtf8(address));
        wkeLoadURLW(view, address);
        ASSERT_TRUE(WaitComplete(view));
        EXPECT_EQ(wkeIsLoadFailed(view), 1);
        EXPECT_EQ(wkeIsLoaded(view), 0);
    }
    LoadServed("/after-failure.html", "<title>after</title>");
    EXPECT_EQ(Title(view), L"after");
    // An empty address completes too.
    wkeLoadURLW(view, L" \t ");
    EXPECT_TRUE(WaitComplete(view));
}

TEST_F(EngineView, ScriptsRunInThePage) {
    LoadServed("/script.html", "<html><body style='margin:0'></body></html>");
    EXPECT_EQ(wkeRunJSW(view, L"document.title='\u811A\u672C'; 6*7"), 42);
    EXPECT_EQ(Title(view), L"\u811A\u672C");
    wkeRunJS(view, "document.body.style.background='rgb(0, 0, 255)'");
    wkeResize(view, 100, 100);
    std::vector<uint8_t> frame(100 * 100 * 4);
    wkePaint(view, frame.data(), 0);
    EXPECT_EQ(frame[0], 255);  // blue
    EXPECT_EQ(frame[1], 0);
    EXPECT_EQ(frame[2], 0);
    EXPECT_EQ(wkeRunJS(view, "throw new Error('x')"), 0);  // an error is no crash
    EXPECT_EQ(wkeRunJS(view, "\xff\xfe bad bytes"), 0);
}

TEST_F(EngineView, InputReachesThePage) {
    LoadServed("/input.html",
               "<html><body style='margin:0'>"
               "<button id=b style='position:absolute;left:10px;top:10px;width:200px;height:50px' "
               "onclick=\"document.title='clicked'\">press</button>"
               "<input id=t style='position:absolute;left:10px;top:100px;width:200px' "
               "oninput='document.title=this.value'></body></html>");
    wkeMouseEvent(view, WM_MOUSEMOVE, 60, 30, 0);
    wkeMouseEvent(view, WM_LBUTTONDOWN, 60, 30, WKE_LBUTTON);
    wkeMouseEvent(view, WM_LBUTTONUP, 60, 30, 0);
    EXPECT_TRUE(PumpUntil([&] { return Title(view) == L"clicked"; }, 20000)) << wkechr::ToUtf8(Title(view));

    wkeMouseEvent(view, WM_LBUTTONDOWN, 50, 110, WKE_LBUTTON);
    wkeMouseEvent(view, WM_LBUTTONUP, 50, 110, 0);
    for (unsigned c : {unsigned('a'), unsigned('B'), 0x4E2Du}) wkeKeyPress(view, c, 0, 0);
    wkeKeyDown(view, VK_BACK, 0, 0);
    wkeKeyUp(view, VK_BACK, 0, 0);
    wkeKeyPress(view, 'z', 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return Title(view) == L"aBz"; }, 20000)) << wkechr::ToUtf8(Title(view));
    wkeRect caret = wkeGetCaret(view);
    EXPECT_GT(caret.y, 90);
    EXPECT_LT(caret.y, 140);
    EXPECT_GT(caret.h, 0);
}

namespace {

struct Record {
    wkeClientHandler entries;
    void* own;
};
struct Seen {
    const void* record;
    DWORD thread;
    bool title;
    std::wstring text;
};
std::vector<Seen> g_seen;

void WKE_CALL OnTitle(void* record, wkeString text) {
    g_seen.push_back({record, GetCurrentThreadId(), true, wkeToStringW(text)});
}
void WKE_CALL OnUrl(void* record, wkeString text) {
    g_seen.push_back({record, GetCurrentThreadId(), false, wkeToStringW(text)});
}

}  // namespace

TEST_F(EngineView, NotificationsArriveOnTheUiThread) {
    Record record{{&OnTitle, &OnUrl}, nullptr};
    wkeSetClientHandler(view, &record.entries);
    g_seen.clear();
    std::string url = g_server->Url("/notify.html");
    LoadServed("/notify.html", "<title>first</title>");
    wkeRunJSW(view, L"document.title='\u7B2C\u4E8C'");
    auto has = [&](bool title, const std::wstring& text) {
        for (const auto& s : g_seen)
            if (s.title == title && s.text == text) return true;
        return false;
    };
    EXPECT_TRUE(PumpUntil([&] { return has(true, L"first") && has(true, L"\u7B2C\u4E8C") && has(false, Wide(url)); }, 20000))
        << [&] {
               std::string all;
               for (const auto& s : g_seen) all += (s.title ? "title: " : "url: ") + wkechr::ToUtf8(s.text) + "\n";
               return all;
           }();
    for (const auto& s : g_seen) {
        EXPECT_EQ(s.record, &record);
        EXPECT_EQ(s.thread, g_uiThread);
    }

    // None after the view is gone.
    wkeWebView second = wkeCreateWebView();
    ASSERT_NE(second, nullptr);
    wkeSetClientHandler(second, &record.entries);
    wkeLoadHTMLW(second, L"<title>late</title>");
    wkeDestroyWebView(second);
    g_seen.clear();
    PumpUntil([] { return false; }, 1500);
    EXPECT_TRUE(g_seen.empty());
}

TEST_F(EngineView, HistoryAndReload) {
    LoadServed("/a.html", "<title>A</title>");
    LoadServed("/b.html", "<title>B</title>");
    EXPECT_EQ(wkeCanGoBack(view), 1);
    EXPECT_EQ(wkeCanGoForward(view), 0);
    EXPECT_EQ(wkeGoBack(view), 1);
    ASSERT_TRUE(WaitComplete(view));
    EXPECT_TRUE(PumpUntil([&] { return Title(view) == L"A"; }, 10000));
    EXPECT_EQ(wkeCanGoForward(view), 1);
    int before = g_server->Requests();
    wkeReload(view);
    ASSERT_TRUE(WaitComplete(view));
    EXPECT_EQ(wkeIsLoaded(view), 1);
    EXPECT_GT(g_server->Requests(), before);
}

TEST_F(EngineView, ABrowserKilledMidwayIsReplaced) {
    LoadServed("/before-kill.html", "<title>before</title>");
    DWORD pid = wkechr::Engine::Instance().BrowserPid();
    ASSERT_NE(pid, 0u);
    wkechr::KillProcessById(pid);
    ASSERT_TRUE(PumpUntil([&] { return !wkechr::ProcessAlive(pid); }, 20000));
    LoadServed("/after-kill.html", "<title>after kill</title>");
    EXPECT_EQ(Title(view), L"after kill");
    DWORD replacement = wkechr::Engine::Instance().BrowserPid();
    EXPECT_NE(replacement, pid);
    EXPECT_TRUE(wkechr::ProcessAlive(replacement));
}

TEST_F(EngineView, ASelfRefreshingPageNeverHoldsTheUiThread) {
    g_server->AddPage("/refresh.html",
                      "<html><head><meta http-equiv='refresh' content='0'><title>again</title></head>"
                      "<body style='margin:0;background:rgb(0,128,0)'><div style='height:900px'></div></body></html>");
    EntryClock clock;
    const std::wstring url = Wide(g_server->Url("/refresh.html"));
    clock("wkeLoadURLW", [&] { wkeLoadURLW(view, url.c_str()); });
    // The batch's loop: a wait of a second, a look, a reload every 15 waits.
    int waits = 0;
    bool complete = false;
    while (!complete && waits < 60) {
        PumpUntil([] { return false; }, 1000);
        if (++waits % 15 == 0) clock("wkeReload", [&] { wkeReload(view); });
        complete = clock("wkeIsLoadComplete", [&] { return (wkeIsLoadComplete(view) & 0xFF) != 0; });
    }
    EXPECT_TRUE(complete) << "still loading after " << waits << " waits";
    EXPECT_LT(waits, 15) << "a page that reloads itself counts as complete once our load ended";
    EXPECT_LT(clock.longest, kEntryGuardMs) << clock.Report();
    // The capture's calls while the page goes on reloading itself.
    for (int round = 0; round < 3; ++round) {
        clock("wkeRunJS", [&] { wkeRunJS(view, "document.body.style.overflow='hidden'"); });
        const int w = clock("wkeContentsWidth", [&] { return wkeContentsWidth(view); });
        const int h = clock("wkeContentsHeight", [&] { return wkeContentsHeight(view); });
        clock("wkeTitleW", [&] { return wkeTitleW(view); });
        clock("wkeIsLoadComplete", [&] { return wkeIsLoadComplete(view); });
        clock("wkeResize", [&] { wkeResize(view, w, h); });
        std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 4 + 4, 0x5A);
        const Millis paintStart = NowMillis();
        wkePaint(view, frame.data(), 0);
        EXPECT_LT(NowMillis() - paintStart, wkechr::limits::PaintBudgetMs(w, h) + kEntryGuardMs);
        EXPECT_EQ(frame[frame.size() - 1], 0x5A) << "wrote past " << w << " x " << h;
        clock("wkeResize", [&] { wkeResize(view, 800, 600); });
        clock("wkeRunJS", [&] { wkeRunJS(view, "document.body.style.overflow='visible'"); });
        clock("wkeStopLoading", [&] { wkeStopLoading(view); });
        clock("wkeLoadURLW", [&] { wkeLoadURLW(view, url.c_str()); });
    }
    EXPECT_LT(clock.longest, kEntryGuardMs) << clock.Report();
    std::printf("longest entry while the page refreshed itself: %s\n", clock.Report().c_str());
    // It is still a working view afterwards.
    LoadServed("/after-refresh.html", "<title>calm</title>");
    EXPECT_EQ(Title(view), L"calm");
}

TEST_F(EngineView, ABrowserKilledMidLoadComesBackAtTheRequestedAddress) {
    // The load event waits for a script that keeps the page busy: the kill lands mid-load.
    g_server->AddPage("/slow-red.html",
                      "<html><head><title>slow red</title></head><body style='margin:0;background:rgb(200,0,0)'>"
                      "<script>const t=Date.now();while(Date.now()-t<2000);</script></body></html>");
    wkeResize(view, 320, 240);
    const std::wstring url = Wide(g_server->Url("/slow-red.html"));
    wkeLoadURLW(view, url.c_str());
    PumpUntil([] { return false; }, 300);
    ASSERT_EQ(wkeIsLoadComplete(view), 0);
    const DWORD pid = wkechr::Engine::Instance().BrowserPid();
    ASSERT_NE(pid, 0u);
    const Millis killed = NowMillis();
    wkechr::KillProcessById(pid);
    EntryClock clock;
    bool complete = false;
    PumpUntil([&] { return complete = clock("wkeIsLoadComplete", [&] { return (wkeIsLoadComplete(view) & 0xFF) != 0; }); },
              90000);
    ASSERT_TRUE(complete);
    std::printf("back at the requested page %lld ms after the kill; longest entry meanwhile: %s\n",
                static_cast<long long>(NowMillis() - killed), clock.Report().c_str());
    EXPECT_LT(clock.longest, kEntryGuardMs) << clock.Report();
    EXPECT_EQ(wkeIsLoaded(view), 1);
    EXPECT_EQ(Title(view), L"slow red");
    EXPECT_EQ(wkeWidth(view), 320) << "the view's settings came back with it";
    std::vector<uint8_t> frame(320 * 240 * 4);
    wkePaint(view, frame.data(), 0);
    EXPECT_EQ(frame[0], 0);  // blue, green, red: the page, not a blank one
    EXPECT_EQ(frame[1], 0);
    EXPECT_EQ(frame[2], 200);
    const DWORD replacement = wkechr::Engine::Instance().BrowserPid();
    EXPECT_NE(replacement, pid);
    EXPECT_TRUE(wkechr::ProcessAlive(replacement));
    wkeResize(view, 800, 600);
}

TEST_F(EngineView, PaintWritesOnlyTheSizeLastSet) {
    LoadServed("/paint-zero.html", "<html><body style='margin:0;background:rgb(0,0,255)'></body></html>");
    struct Case {
        int w, h;
    } cases[] = {{0, 0}, {0, 300}, {300, 0}, {-5, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        wkeResize(view, c.w, c.h);
        EXPECT_EQ(wkeWidth(view), std::max(0, c.w));
        EXPECT_EQ(wkeHeight(view), std::max(0, c.h));
        std::vector<uint8_t> memory(64, 0x5A);  // what a 54-byte capture would leave room for, and more
        wkePaint(view, memory.data(), 0);
        for (uint8_t byte : memory) ASSERT_EQ(byte, 0x5A) << "a paint of an empty frame wrote";
    }
    wkeResize(view, 40, 30);
    std::vector<uint8_t> frame(40 * 30 * 4 + 4, 0x5A);
    wkePaint(view, frame.data(), 0);
    EXPECT_EQ(frame[0], 255);
    EXPECT_EQ(frame[40 * 30 * 4], 0x5A);
    wkeResize(view, 800, 600);
}
