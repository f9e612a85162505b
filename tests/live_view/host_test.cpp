// The bound window's message routing, the render pump, the page events and the attachment's
// undoing, against the test engine loaded in this process (wke.dll beside the test program).
#include <gtest/gtest.h>

#include <windows.h>
#include <imm.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "base/scoped_win.h"
#include "render/d3d9_renderer.h"
#include "render/gdi_renderer.h"
#include "render/view_renderer.h"
#include "tests/live_view/live_view_support.h"
#include "webview/display_attachment.h"
#include "webview/page_events.h"
#include "webview/web_view_host.h"

namespace {

using live_view::kOwnAnswer;
using live_view::OwnMessages;
using live_view::OwnWindow;
using live_view::PumpFor;
using live_view::PumpUntil;
using test_engine::TestEngine;
using Lines = std::vector<std::string>;

std::string PointerText(const void* p) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return buffer;
}

// WM_VIEW_REPAINT as the bound window receives it (a sent message: a WH_CALLWNDPROC hook sees it).
struct RepaintWatch {
    static inline HWND window = nullptr;
    static inline long repaints = 0;
    static inline long malformed = 0;
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code >= 0) {
            const auto& m = *reinterpret_cast<const CWPSTRUCT*>(lParam);
            if (m.hwnd == window && m.message == WM_VIEW_REPAINT) {
                ++repaints;
                if (m.wParam != 0 || m.lParam != 0) ++malformed;
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};

class ScopedHook {
public:
    ScopedHook(int type, HOOKPROC proc) : hook_(SetWindowsHookExW(type, proc, nullptr, GetCurrentThreadId())) {}
    ~ScopedHook() {
        if (hook_) UnhookWindowsHookEx(hook_);
    }
    ScopedHook(const ScopedHook&) = delete;
    ScopedHook& operator=(const ScopedHook&) = delete;
    explicit operator bool() const { return hook_ != nullptr; }

private:
    HHOOK hook_;
};

class LiveViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        // One window for every test: under Wine each destruction of a shown window costs seconds.
        if (IsIconic(window_.Get())) ShowWindow(window_.Get(), SW_RESTORE);
        SetWindowLongPtrW(window_.Get(), GWLP_USERDATA, 0);
        wkeInit();  // loads the engine through the program's own binding
        engine_ = std::make_unique<TestEngine>();
        ASSERT_TRUE(engine_->Complete());
        engine_->Reset();
        OwnMessages().clear();
        RepaintWatch::window = window_.Get();
        RepaintWatch::repaints = 0;
        RepaintWatch::malformed = 0;
    }
    void TearDown() override {
        host_->Finalize();
        delete host_;
    }

    TestEngine& Engine() { return *engine_; }
    wkeWebView View() { return host_->view.load(); }
    void Bind(int kind = kRendererGdi) {
        ASSERT_TRUE(host_->Create(window_.Get(), kind));
        Engine().ClearLog();
        OwnMessages().clear();
    }
    // The calls the UI thread made, as "entry(args)[ = result]".
    Lines UiCalls() {
        Lines texts;
        for (const test_engine::Call& call : Engine().Calls())
            if (call.thread == 1) texts.push_back(call.text);
        return texts;
    }
    Lines UiCallsDuring(const std::function<void()>& action) {
        Engine().ClearLog();
        action();
        return UiCalls();
    }
    GdiRenderer& Gdi() { return dynamic_cast<GdiRenderer&>(*host_->renderer); }
    POINT ScreenPoint(int x, int y) {
        POINT p{x, y};
        ClientToScreen(window_.Get(), &p);
        return p;
    }

    static OwnWindow& SharedWindow() {
        static OwnWindow* window = new OwnWindow();  // never destroyed: see SetUp
        return *window;
    }
    OwnWindow& window_ = SharedWindow();
    WebViewHost* host_ = new WebViewHost();
    std::unique_ptr<TestEngine> engine_;
};

// ---- message routing ----------------------------------------------------------------------------

// Messages the engine is asked about while the pump stays quiet (the view never reports new pixels).
class RoutingTest : public LiveViewTest {
protected:
    void SetUp() override {
        LiveViewTest::SetUp();
        Engine().Script("answer wkeIsDirty 0");
        Bind();
    }
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
        return SendMessageW(window_.Get(), message, wParam, lParam);
    }
    bool OwnSaw(UINT message, WPARAM wParam, LPARAM lParam) {
        for (const auto& m : OwnMessages())
            if (m.message == message && m.wParam == wParam && m.lParam == lParam) return true;
        return false;
    }
};

TEST_F(RoutingTest, InputReachesTheEngineWithItsFlagsAndStopsThereWhenTaken) {
    const struct {
        const char* what;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        std::string call;
    } cases[] = {
        {"plain key", WM_KEYDOWN, 'A', 0x001E0001, "wkeKeyDown(#1, 65, 0, 0) = 1"},
        {"key already down", WM_KEYDOWN, 'A', 0x401E0001, "wkeKeyDown(#1, 65, 16384, 0) = 1"},
        {"extended key, already down", WM_KEYUP, VK_RIGHT, static_cast<LPARAM>(0xC14D0001u),
         "wkeKeyUp(#1, 39, 16640, 0) = 1"},
        {"extended key only", WM_KEYDOWN, VK_RIGHT, 0x014D0001, "wkeKeyDown(#1, 39, 256, 0) = 1"},
        {"character", WM_CHAR, 0x4E2D, 0x00000001, "wkeKeyPress(#1, 20013, 0, 0) = 1"},
        {"repeated character", WM_CHAR, 'x', 0x40000001, "wkeKeyPress(#1, 120, 16384, 0) = 1"},
        {"move with shift, an x button dropped", WM_MOUSEMOVE, MK_SHIFT | MK_XBUTTON1,
         MAKELPARAM(10, 20), "wkeMouseEvent(#1, 512, 10, 20, 4) = 1"},
        {"every flag", WM_MOUSEMOVE, MK_CONTROL | MK_SHIFT | MK_LBUTTON | MK_MBUTTON | MK_RBUTTON,
         MAKELPARAM(1, 2), "wkeMouseEvent(#1, 512, 1, 2, 31) = 1"},
        {"middle double-click", WM_MBUTTONDBLCLK, MK_MBUTTON | MK_CONTROL, MAKELPARAM(3, 4),
         "wkeMouseEvent(#1, 521, 3, 4, 24) = 1"},
        {"right double-click", WM_RBUTTONDBLCLK, MK_RBUTTON, MAKELPARAM(5, 6),
         "wkeMouseEvent(#1, 518, 5, 6, 2) = 1"},
    };
    for (const auto& c : cases) {
        OwnMessages().clear();
        LRESULT result = 1;
        Lines calls = UiCallsDuring([&] { result = Send(c.message, c.wParam, c.lParam); });
        EXPECT_EQ(calls, Lines{c.call}) << c.what;
        EXPECT_EQ(result, 0) << c.what;
        EXPECT_FALSE(OwnSaw(c.message, c.wParam, c.lParam)) << c.what;
    }
}

TEST_F(RoutingTest, InputTheEngineDeclinesGoesToTheWindowsOwnProcedure) {
    // 0x100 is not zero, but the engine's answer is its low byte: declined.
    const POINT screen = ScreenPoint(7, 8);
    const struct {
        const char* entry;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } cases[] = {
        {"wkeKeyDown", WM_KEYDOWN, 'Q', 0x00100001},
        {"wkeKeyUp", WM_KEYUP, 'Q', static_cast<LPARAM>(0xC0100001u)},
        {"wkeKeyPress", WM_CHAR, 'q', 0x00100001},
        {"wkeMouseEvent", WM_MOUSEMOVE, 0, MAKELPARAM(9, 9)},
        {"wkeMouseWheel", WM_MOUSEWHEEL, MAKEWPARAM(0, 120), MAKELPARAM(screen.x, screen.y)},
        {"wkeContextMenuEvent", WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window_.Get()),
         MAKELPARAM(screen.x, screen.y)},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Engine().test.wkeTestSetTruth(c.entry, 0x100, 0x100)) << c.entry;
        OwnMessages().clear();
        Engine().ClearLog();
        EXPECT_EQ(Send(c.message, c.wParam, c.lParam), kOwnAnswer) << c.entry;
        EXPECT_TRUE(OwnSaw(c.message, c.wParam, c.lParam)) << c.entry;
        EXPECT_EQ(Engine().Count(c.entry), 1) << c.entry;
    }
}

TEST_F(RoutingTest, AButtonPressTakesFocusAndCaptureAndItsReleaseGivesCaptureBack) {
    const struct {
        UINT down, up, doubleClick;
        WPARAM flag;
        int engineFlag;
    } buttons[] = {
        {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, MK_LBUTTON, 1},
        {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, MK_RBUTTON, 2},
        {WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK, MK_MBUTTON, 16},
    };
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.down);
        SetFocus(nullptr);
        ReleaseCapture();

        Lines calls = UiCallsDuring([&] { Send(b.down, b.flag, MAKELPARAM(10, 20)); });
        const std::string press = "wkeMouseEvent(#1, " + std::to_string(b.down) + ", 10, 20, " +
                                  std::to_string(b.engineFlag) + ") = 1";
        // Focus first: the engine hears of it before it sees the press.
        EXPECT_EQ(calls, (Lines{"wkeFocus(#1)", press}));
        EXPECT_EQ(GetCapture(), window_.Get());
        EXPECT_EQ(GetFocus(), window_.Get());

        // Captured: a point left of the window arrives as a large x, one above it as a negative y.
        calls = UiCallsDuring([&] { Send(WM_MOUSEMOVE, b.flag, MAKELPARAM(-5, -7)); });
        EXPECT_EQ(calls, Lines{"wkeMouseEvent(#1, 512, 65531, -7, " + std::to_string(b.engineFlag) + ") = 1"});

        Send(b.up, 0, MAKELPARAM(10, 20));
        EXPECT_EQ(GetCapture(), nullptr);

        // A double-click takes neither focus nor capture.
        SetFocus(nullptr);
        calls = UiCallsDuring([&] { Send(b.doubleClick, b.flag, MAKELPARAM(1, 1)); });
        EXPECT_EQ(calls.size(), 1u);
        EXPECT_EQ(GetCapture(), nullptr);
        EXPECT_NE(GetFocus(), window_.Get());
    }
}

TEST_F(RoutingTest, TheWheelKeepsItsSignAndItsPointIsMadeClientRelative) {
    const POINT screen = ScreenPoint(30, 40);
    const LPARAM at = MAKELPARAM(screen.x, screen.y);
    EXPECT_EQ(UiCallsDuring([&] { Send(WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, static_cast<WORD>(-120)), at); }),
              Lines{"wkeMouseWheel(#1, 30, 40, -120, 4) = 1"});
    EXPECT_EQ(UiCallsDuring([&] { Send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, 120), at); }),
              Lines{"wkeMouseWheel(#1, 30, 40, 120, 8) = 1"});
}

TEST_F(RoutingTest, TheContextMenuGetsClientCoordinatesOrMinusOneAndTheCurrentKeyState) {
    BYTE saved[256];
    ASSERT_TRUE(GetKeyboardState(saved));
    BYTE keys[256] = {};
    keys[VK_CONTROL] = 0x80;
    keys[VK_RBUTTON] = 0x80;
    ASSERT_TRUE(SetKeyboardState(keys));

    const POINT screen = ScreenPoint(15, 25);
    Lines fromMouse = UiCallsDuring([&] {
        Send(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window_.Get()), MAKELPARAM(screen.x, screen.y));
    });
    Lines fromKeyboard = UiCallsDuring([&] {
        Send(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window_.Get()), static_cast<LPARAM>(-1));
    });
    SetKeyboardState(saved);

    EXPECT_EQ(fromMouse, Lines{"wkeContextMenuEvent(#1, 15, 25, 10) = 1"});
    EXPECT_EQ(fromKeyboard, Lines{"wkeContextMenuEvent(#1, -1, -1, 10) = 1"});
    // Without any key down the flags are 0, whatever window handle wParam carries.
    EXPECT_EQ(UiCallsDuring([&] { Send(WM_CONTEXTMENU, 0x1F, static_cast<LPARAM>(-1)); }),
              Lines{"wkeContextMenuEvent(#1, -1, -1, 0) = 1"});
}

TEST_F(RoutingTest, PaintOnlyMarksTheViewDirtyAndValidatesTheWindow) {
    InvalidateRect(window_.Get(), nullptr, FALSE);
    Lines calls = UiCallsDuring([&] { UpdateWindow(window_.Get()); });
    EXPECT_EQ(calls, Lines{"wkeSetDirty(#1, 1)"});
    EXPECT_FALSE(GetUpdateRect(window_.Get(), nullptr, FALSE));
    EXPECT_FALSE(live_view::OwnProcedureSaw(WM_PAINT));
}

TEST_F(RoutingTest, SizeFollowsTheWindowDownToZeroOnMinimiseAndBack) {
    const SIZE client = window_.ClientSize();
    // The kind of sizing is not looked at.
    EXPECT_EQ(UiCallsDuring([&] { Send(WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(123, 45)); }),
              Lines{"wkeResize(#1, 123, 45)"});
    EXPECT_EQ(Gdi().width, 123);
    EXPECT_EQ(Gdi().height, 45);
    EXPECT_FALSE(live_view::OwnProcedureSaw(WM_SIZE));

    Lines minimised = UiCallsDuring([&] { ShowWindow(window_.Get(), SW_MINIMIZE); });
    EXPECT_NE(std::find(minimised.begin(), minimised.end(), "wkeResize(#1, 0, 0)"), minimised.end());
    EXPECT_EQ(Gdi().width, 0);
    EXPECT_EQ(Gdi().height, 0);

    Lines restored = UiCallsDuring([&] { ShowWindow(window_.Get(), SW_RESTORE); });
    const std::string back =
        "wkeResize(#1, " + std::to_string(client.cx) + ", " + std::to_string(client.cy) + ")";
    EXPECT_NE(std::find(restored.begin(), restored.end(), back), restored.end());
    EXPECT_EQ(Gdi().width, client.cx);
    EXPECT_EQ(Gdi().height, client.cy);
}

TEST_F(RoutingTest, RepaintResizesTheViewToTheClientAreaBeforeTheRendererDraws) {
    Engine().Script("log-dirty");
    const SIZE client = window_.ClientSize();
    const std::string resize =
        "wkeResize(#1, " + std::to_string(client.cx) + ", " + std::to_string(client.cy) + ")";
    for (int i = 0; i < 2; ++i)  // every time, also when the size has not changed
        EXPECT_EQ(UiCallsDuring([&] { EXPECT_EQ(Send(WM_VIEW_REPAINT, 0, 0), 0); }),
                  (Lines{resize, "wkeIsDirty(#1) = 0"}));
    EXPECT_FALSE(live_view::OwnProcedureSaw(WM_VIEW_REPAINT));
}

TEST_F(RoutingTest, FocusAndTheCandidateWindowAreHandledHere) {
    EXPECT_EQ(UiCallsDuring([&] { EXPECT_EQ(Send(WM_SETFOCUS, 0, 0), 0); }), Lines{"wkeFocus(#1)"});
    EXPECT_EQ(UiCallsDuring([&] { EXPECT_EQ(Send(WM_KILLFOCUS, 0, 0), 0); }), Lines{"wkeUnfocus(#1)"});

    Engine().test.wkeTestSetCaret(10, 20, 2, 16);
    EXPECT_EQ(UiCallsDuring([&] { EXPECT_EQ(Send(WM_IME_STARTCOMPOSITION, 0, 0), 0); }),
              Lines{"wkeGetCaret(#1) = {10, 20, 2, 16}"});
    EXPECT_FALSE(live_view::OwnProcedureSaw(WM_SETFOCUS));
    EXPECT_FALSE(live_view::OwnProcedureSaw(WM_KILLFOCUS));
    EXPECT_FALSE(live_view::OwnProcedureSaw(WM_IME_STARTCOMPOSITION));

    ScopedImeContext context(window_.Get());
    CANDIDATEFORM form{};
    ASSERT_NE(static_cast<HIMC>(context), nullptr);
    ASSERT_TRUE(ImmGetCandidateWindow(context, 0, &form));
    EXPECT_EQ(form.dwStyle, static_cast<DWORD>(CFS_EXCLUDE));
    EXPECT_EQ(form.ptCurrentPos.x, 10);
    EXPECT_EQ(form.ptCurrentPos.y, 36);  // just below the caret
    EXPECT_EQ(form.rcArea.left, 10);
    EXPECT_EQ(form.rcArea.top, 20);
    EXPECT_EQ(form.rcArea.right, 12);
    EXPECT_EQ(form.rcArea.bottom, 36);
}

TEST_F(RoutingTest, MessagesOutsideTheTableReachTheOwnProcedureUntouched) {
    const struct {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } cases[] = {
        {WM_MOUSELEAVE, 0, 0},
        {WM_SYSKEYDOWN, VK_F10, 0x20440001},
        {WM_USER + 77, 0x1234, 0x5678},
    };
    for (const auto& c : cases) {
        OwnMessages().clear();
        LRESULT result = 0;
        EXPECT_EQ(UiCallsDuring([&] { result = Send(c.message, c.wParam, c.lParam); }), Lines{}) << c.message;
        EXPECT_EQ(result, kOwnAnswer) << c.message;
        EXPECT_TRUE(OwnSaw(c.message, c.wParam, c.lParam)) << c.message;
    }
}

// ---- subclassing --------------------------------------------------------------------------------

TEST_F(LiveViewTest, SubclassingHandsMessagesOverAndDestroyHandsThemBack) {
    const WNDPROC own = window_.Proc();
    // Without a host in the window's user data the subclass procedure is the default one.
    EXPECT_EQ(ViewSubclassProc(window_.Get(), WM_USER + 5, 0, 0), 0);
    EXPECT_TRUE(OwnMessages().empty());

    Bind();
    EXPECT_EQ(window_.Proc(), ViewSubclassProc);
    EXPECT_EQ(host_->prevWndProc, own);
    EXPECT_EQ(GetWindowLongPtrW(window_.Get(), GWLP_USERDATA), reinterpret_cast<LONG_PTR>(host_));

    // A second subclassing of a window already running ViewSubclassProc changes nothing.
    WebViewHost other;
    SubclassViewWindow(window_.Get(), &other);
    EXPECT_EQ(GetWindowLongPtrW(window_.Get(), GWLP_USERDATA), reinterpret_cast<LONG_PTR>(host_));
    EXPECT_EQ(other.prevWndProc, nullptr);
    other.Finalize();

    host_->Destroy();
    EXPECT_EQ(window_.Proc(), own);
    Engine().ClearLog();
    EXPECT_EQ(SendMessageW(window_.Get(), WM_KEYDOWN, 'A', 0x001E0001), kOwnAnswer);
    EXPECT_TRUE(live_view::OwnProcedureSaw(WM_KEYDOWN));
    EXPECT_EQ(Engine().Count(), 0);

    // Binding again records the window's own procedure again.
    Bind();
    EXPECT_EQ(host_->prevWndProc, own);
    EXPECT_EQ(window_.Proc(), ViewSubclassProc);
}

// ---- the render pump ----------------------------------------------------------------------------

class PumpTest : public LiveViewTest {
protected:
    void SetUp() override {
        LiveViewTest::SetUp();
        ASSERT_TRUE(hook_);
    }
    long Repaints() const { return RepaintWatch::repaints; }
    live_view::HangGuard guard_{"a render pump test", 60};
    bool FrameShown(long repaintsBefore) {
        return PumpUntil([&] { return Repaints() > repaintsBefore && !Engine().State(View())->dirty; });
    }
    ScopedHook hook_{WH_CALLWNDPROC, RepaintWatch::Hook};
};

TEST_F(PumpTest, ADirtyViewIsRepaintedOncePerFrameAndACleanOneIsOnlyPolled) {
    Bind();
    // A new view is clean: the pump polls and asks for nothing.
    ASSERT_TRUE(PumpUntil([&] { return Engine().Count("wkeIsDirty") >= 5; }));
    EXPECT_EQ(Repaints(), 0);

    for (int frame = 1; frame <= 3; ++frame) {
        const int paints = Engine().Count("wkePaint");
        Engine().test.wkeTestNewFrame(View());
        ASSERT_TRUE(FrameShown(frame - 1)) << frame;
        // Quiet again: the pump keeps polling without asking.
        const int polls = Engine().Count("wkeIsDirty");
        ASSERT_TRUE(PumpUntil([&] { return Engine().Count("wkeIsDirty") >= polls + 5; }));
        EXPECT_EQ(Repaints(), frame);
        EXPECT_EQ(Engine().Count("wkePaint"), paints + 1);
    }
    EXPECT_EQ(RepaintWatch::malformed, 0);
    // The frame went to the engine at the client size.
    const SIZE client = window_.ClientSize();
    EXPECT_EQ(Engine().State(View())->width, client.cx);
    EXPECT_EQ(Engine().State(View())->height, client.cy);
}

TEST_F(PumpTest, AMinimisedWindowIsNeitherAskedAboutNorRepainted) {
    Bind();
    ShowWindow(window_.Get(), SW_MINIMIZE);
    PumpFor(100);
    const long repaints = Repaints();
    const int polls = Engine().Count("wkeIsDirty");
    Engine().test.wkeTestNewFrame(View());
    PumpFor(300);  // thirty passes of a pump that polled
    EXPECT_EQ(Repaints(), repaints);
    EXPECT_EQ(Engine().Count("wkeIsDirty"), polls);

    ShowWindow(window_.Get(), SW_RESTORE);
    EXPECT_TRUE(FrameShown(repaints));
}

TEST_F(PumpTest, MessagesPostedToThePumpAreDroppedAndAQuitEndsIt) {
    Bind();
    ASSERT_TRUE(host_->renderPump);
    const DWORD pump = GetThreadId(host_->renderPump.Get());
    ASSERT_NE(pump, 0u);
    ASSERT_TRUE(PumpUntil([&] { return PostThreadMessageW(pump, WM_USER + 7, 1, 2) != 0; }));
    Engine().test.wkeTestNewFrame(View());
    EXPECT_TRUE(FrameShown(0));

    ASSERT_TRUE(PostThreadMessageW(pump, WM_QUIT, 0, 0));
    EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(host_->renderPump.Get(), 0) == WAIT_OBJECT_0; }));
    const long repaints = Repaints();
    Engine().test.wkeTestNewFrame(View());
    PumpFor(200);
    EXPECT_EQ(Repaints(), repaints);
}

// The thread that ran the pump, from the log: the one that asked wkeIsDirty.
int PumpThread(const std::vector<test_engine::Call>& calls) {
    for (const auto& c : calls)
        if (c.entry == "wkeIsDirty" && c.thread != 1) return c.thread;
    return 0;
}

TEST_F(PumpTest, AfterDestroyThePumpHasEndedAndMakesNoEngineCall) {
    Engine().Script("log-dirty\nalways-dirty");
    Bind();
    ASSERT_TRUE(PumpUntil([&] { return Engine().Count("wkePaint") >= 3; }));
    // A handle of our own, opened while the thread surely exists: the host closes its own.
    ScopedHandle thread(OpenThread(SYNCHRONIZE, FALSE, GetThreadId(host_->renderPump.Get())));
    ASSERT_TRUE(thread);

    host_->Destroy();
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "Destroy returned before the pump ended";
    const int calls = Engine().Count();
    PumpFor(100);
    EXPECT_EQ(Engine().Count(), calls);

    const auto log = Engine().Calls();
    const int pumpThread = PumpThread(log);
    ASSERT_NE(pumpThread, 0) << "the pump was never seen asking";
    size_t destroyed = log.size();
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].entry == "wkeDestroyWebView") destroyed = i;
    ASSERT_LT(destroyed, log.size());
    for (size_t i = destroyed; i < log.size(); ++i)
        EXPECT_EQ(log[i].thread, 1) << log[i].text;
}

TEST_F(PumpTest, DestroyWhileThePumpIsSendingARepaintCompletes) {
    Engine().Script("log-dirty\nalways-dirty");
    int answeredByTheOwnProcedure = 0;
    for (int cycle = 0; cycle < 10; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_TRUE(host_->Create(window_.Get(), kRendererGdi));
        const int paints = Engine().Count("wkePaint");
        ASSERT_TRUE(PumpUntil([&] { return Engine().Count("wkePaint") >= paints + 2; }));
        // The UI thread stops listening: the pump's next repaint request waits inside SendMessageW.
        Sleep(50);
        OwnMessages().clear();
        host_->Destroy();
        // The waiting request was answered by the window's own procedure, which was back already.
        if (live_view::OwnProcedureSaw(WM_VIEW_REPAINT)) ++answeredByTheOwnProcedure;
        const int calls = Engine().Count();
        PumpFor(30);
        EXPECT_EQ(Engine().Count(), calls);
    }
    EXPECT_GT(answeredByTheOwnProcedure, 0);
}

// ---- page events --------------------------------------------------------------------------------

struct Seen {
    static inline std::vector<std::string> titles;
    static inline std::vector<std::string> urls;
    static void WINAPI Title(const char* text) { titles.emplace_back(text); }
    static void WINAPI Url(const char* text) { urls.emplace_back(text); }
    static void WINAPI OtherTitle(const char* text) { titles.push_back(std::string("other:") + text); }
};

class PageEventTest : public LiveViewTest {
protected:
    void SetUp() override {
        LiveViewTest::SetUp();
        Seen::titles.clear();
        Seen::urls.clear();
        Engine().Script("answer wkeIsDirty 0");
    }
    int FireTitle(const wchar_t* text) { return Engine().test.wkeTestFireTitleChanged(View(), text); }
    int FireUrl(const wchar_t* text) { return Engine().test.wkeTestFireUrlChanged(View(), text); }
};

TEST_F(PageEventTest, TheRecordLeadsBackToItsOwnerAndIsClearedByDestroy) {
    ClientHandler* record = host_->clientHandler;
    Bind();
    EXPECT_EQ(record->owner, host_);
    EXPECT_NE(record->titleChangedEntry, nullptr);
    EXPECT_NE(record->urlChangedEntry, nullptr);
    EXPECT_NE(record->titleChangedEntry, record->urlChangedEntry);
#if defined(_WIN64)
    EXPECT_EQ(record->titleChangedEntry, reinterpret_cast<void*>(&TitleChangedEntry));
    EXPECT_EQ(record->urlChangedEntry, reinterpret_cast<void*>(&UrlChangedEntry));
#endif
    host_->Destroy();
    host_->Create(window_.Get(), kRendererGdi);  // the log of a fresh binding
    EXPECT_EQ(Engine().Calls("wkeSetClientHandler"),
              Lines{"wkeSetClientHandler(#2, " + PointerText(record) + ")"});
    host_->Destroy();
    EXPECT_EQ(record->titleChangedEntry, nullptr);
    EXPECT_EQ(record->urlChangedEntry, nullptr);
    EXPECT_EQ(record->owner, host_);
}

TEST_F(PageEventTest, NotificationsReachOnlyTheMatchingHandlerAsGbk) {
    Bind();
    // No handler: the notification ends in the host without asking the engine for the string.
    EXPECT_EQ(FireTitle(L"\u4E2D"), 1);
    EXPECT_EQ(FireUrl(L"http://a/"), 1);
    EXPECT_EQ(Engine().Count("wkeToStringW"), 0);

    host_->SetTitleChangedHandler(Seen::Title);
    EXPECT_EQ(FireTitle(L"\u4E2D"), 1);
    EXPECT_EQ(FireUrl(L"http://a/"), 1);  // a title handler alone never sees addresses
    ASSERT_EQ(Seen::titles, Lines{"\xD6\xD0"});
    EXPECT_EQ(Seen::titles[0].c_str()[2], '\0');
    EXPECT_TRUE(Seen::urls.empty());

    host_->SetUrlChangedHandler(Seen::Url);
    EXPECT_EQ(FireUrl(L"http://\u4E2D/"), 1);
    EXPECT_EQ(Seen::urls, Lines{"http://\xD6\xD0/"});
    EXPECT_EQ(Seen::titles.size(), 1u);

    // Replacing a handler takes effect at the next notification; 0 stops the calls.
    host_->SetTitleChangedHandler(Seen::OtherTitle);
    FireTitle(L"b");
    host_->SetTitleChangedHandler(nullptr);
    FireTitle(L"c");
    EXPECT_EQ(Seen::titles, (Lines{"\xD6\xD0", "other:b"}));
}

TEST_F(PageEventTest, AHandlerSetBeforeCreateIsUsedOnceBoundAndSurvivesDestroy) {
    host_->SetTitleChangedHandler(Seen::Title);
    Bind();
    FireTitle(L"one");
    host_->Destroy();
    Bind();
    FireTitle(L"two");
    EXPECT_EQ(Seen::titles, (Lines{"one", "two"}));
}

class CountingHost : public WebViewHost {
public:
    void HandleTitleChanged(wkeString title) override {
        ++titleEvents;
        WebViewHost::HandleTitleChanged(title);
    }
    void HandleUrlChanged(wkeString url) override {
        ++urlEvents;
        WebViewHost::HandleUrlChanged(url);
    }
    int titleEvents = 0;
    int urlEvents = 0;
};

TEST_F(PageEventTest, TheOwnersOverridingOperationsAreReached) {
    auto* counting = new CountingHost();
    host_->Finalize();
    delete host_;
    host_ = counting;
    Bind();
    FireTitle(L"t");
    FireUrl(L"u");
    FireUrl(L"v");
    EXPECT_EQ(counting->titleEvents, 1);
    EXPECT_EQ(counting->urlEvents, 2);
}

// ---- the renderers on their own ------------------------------------------------------------------

TEST_F(LiveViewTest, TheGdiSurfaceIsMadeLazilyAndOnlyAgainAfterASizeChange) {
    const long gdiObjects = LiveObjects(LiveKind::GdiObject), dcs = LiveObjects(LiveKind::Dc);
    wkeWebView view = wkeCreateWebView();
    GdiRenderer renderer;
    ASSERT_TRUE(renderer.Init(window_.Get()));
    const SIZE client = window_.ClientSize();
    EXPECT_EQ(renderer.width, client.cx);
    EXPECT_EQ(renderer.height, client.cy);
    EXPECT_EQ(renderer.pixels, nullptr);

    auto paints = [&] { return Engine().Count("wkePaint"); };
    renderer.Render(view);  // a clean view: nothing made, nothing painted
    EXPECT_EQ(renderer.pixels, nullptr);
    EXPECT_FALSE(renderer.dib);
    EXPECT_EQ(paints(), 0);

    wkeResize(view, client.cx, client.cy);  // now dirty
    renderer.Render(view);
    ASSERT_NE(renderer.pixels, nullptr);
    EXPECT_EQ(Engine().Calls("wkePaint"), Lines{"wkePaint(#1, " + PointerText(renderer.pixels) + ", 0)"});
    DIBSECTION section{};
    ASSERT_EQ(GetObjectW(renderer.dib, sizeof section, &section), static_cast<int>(sizeof section));
    EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
    EXPECT_EQ(section.dsBmih.biWidth, client.cx);
    EXPECT_EQ(std::abs(section.dsBmih.biHeight), client.cy);
    EXPECT_EQ(section.dsBmih.biSizeImage, static_cast<DWORD>(client.cx * 4 * client.cy));

    const HBITMAP first = renderer.dib;
    void* const firstPixels = renderer.pixels;
    renderer.Resize(client.cx, client.cy);  // the size held: surface kept
    EXPECT_EQ(renderer.pixels, firstPixels);
    renderer.Resize(3, 2);  // a new size: the pixels go at once, the section only when replaced
    EXPECT_EQ(renderer.pixels, nullptr);
    EXPECT_EQ(renderer.dib.Get(), first);
    wkeResize(view, 3, 2);
    renderer.Render(view);
    EXPECT_NE(renderer.dib.Get(), first);
    ASSERT_EQ(GetObjectW(renderer.dib, sizeof section, &section), static_cast<int>(sizeof section));
    EXPECT_EQ(section.dsBmih.biSizeImage, 24u);
    EXPECT_EQ(LiveObjects(LiveKind::GdiObject), gdiObjects + 1);  // the old section is gone

    // Minimised: nothing to draw on; restored: the first dirty frame is drawn again.
    renderer.Resize(0, 0);
    wkeResize(view, 0, 0);
    const int before = paints();
    renderer.Render(view);
    EXPECT_EQ(renderer.pixels, nullptr);
    EXPECT_EQ(paints(), before);
    renderer.Resize(40, 30);
    wkeResize(view, 40, 30);
    renderer.Render(view);
    EXPECT_NE(renderer.pixels, nullptr);
    EXPECT_EQ(paints(), before + 1);

    renderer.Release();
    renderer.Release();
    EXPECT_FALSE(renderer.dib);
    EXPECT_FALSE(renderer.memDc);
    EXPECT_EQ(LiveObjects(LiveKind::GdiObject), gdiObjects);
    EXPECT_EQ(LiveObjects(LiveKind::Dc), dcs);
    wkeDestroyWebView(view);
}

TEST(D3d9RendererTest, TheQuadCoversTheSizeWithTheHalfPixelShiftAndIsNeverShared) {
    D3d9Renderer renderer;
    renderer.Resize(800, 600);  // no device yet: only the quad changes
    const QuadVertex expected[4] = {
        {-0.5f, -0.5f, 0, 1, 0, 0},
        {799.5f, -0.5f, 0, 1, 1, 0},
        {-0.5f, 599.5f, 0, 1, 0, 1},
        {799.5f, 599.5f, 0, 1, 1, 1},
    };
    for (int i = 0; i < 4; ++i) {
        const QuadVertex& v = renderer.vertices[i];
        EXPECT_EQ((std::vector<float>{v.x, v.y, v.z, v.rhw, v.u, v.v}),
                  (std::vector<float>{expected[i].x, expected[i].y, expected[i].z, expected[i].rhw,
                                      expected[i].u, expected[i].v}))
            << "vertex " << i;
    }
    std::unique_ptr<ViewRenderer> copy(renderer.Clone());
    auto& clone = dynamic_cast<D3d9Renderer&>(*copy);
    EXPECT_NE(clone.vertices.get(), renderer.vertices.get());
    EXPECT_EQ(clone.vertices[3].x, 799.5f);
    renderer.Resize(10, 10);
    EXPECT_EQ(clone.vertices[3].x, 799.5f);
    renderer.Release();  // nothing held: harmless, also twice
    renderer.Release();
}

// ---- resources over many bindings ---------------------------------------------------------------

long ThreadsOfThisProcess() {
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long count = 0;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self) ++count;
    return count;
}

struct Counters {
    long handles, dcs, gdiObjects, comRefs, libraries, threads;
    bool operator==(const Counters&) const = default;
};

Counters Now() {
    return {LiveObjects(LiveKind::Handle), LiveObjects(LiveKind::Dc), LiveObjects(LiveKind::GdiObject),
            LiveObjects(LiveKind::ComRef), LiveObjects(LiveKind::Library), ThreadsOfThisProcess()};
}

void PrintTo(const Counters& c, std::ostream* os) {
    *os << "{handles " << c.handles << ", dcs " << c.dcs << ", gdi objects " << c.gdiObjects
        << ", com refs " << c.comRefs << ", libraries " << c.libraries << ", threads " << c.threads << "}";
}

TEST_F(LiveViewTest, AHundredBindingsLeaveTheLiveResourcesWhereTheyStarted) {
    live_view::HangGuard guard("a hundred bindings", 170);
    ScopedOle ole;  // the default kind makes a WIC factory through COM

    // Each counter moves when something is made on purpose.
    {
        const Counters before = Now();
        ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ScopedMemDC dc(CreateCompatibleDC(nullptr));
        ScopedGdiObj<HBRUSH> brush(CreateSolidBrush(RGB(1, 2, 3)));
        ScopedLibrary library(LoadLibraryW(L"imm32.dll"));
        ScopedComPtr<IStream> stream;
        CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive());
        ScopedHandle thread(CreateThread(nullptr, 0, [](LPVOID e) -> DWORD {
            WaitForSingleObject(static_cast<HANDLE>(e), INFINITE);
            return 0;
        }, event.Get(), 0, nullptr));
        ASSERT_NE(stream.Get(), nullptr);
        const Counters during = Now();
        EXPECT_EQ(during.handles, before.handles + 2);
        EXPECT_EQ(during.dcs, before.dcs + 1);
        EXPECT_EQ(during.gdiObjects, before.gdiObjects + 1);
        EXPECT_EQ(during.libraries, before.libraries + 1);
        EXPECT_EQ(during.comRefs, before.comRefs + 1);
        EXPECT_EQ(during.threads, before.threads + 1);
        SetEvent(event);
        WaitForSingleObject(thread, INFINITE);
    }

    auto cycle = [&](int kind) {
        ASSERT_TRUE(host_->Create(window_.Get(), kind));
        ASSERT_EQ(typeid(*host_->renderer), typeid(GdiRenderer));
        const int paints = Engine().Count("wkePaint");
        Engine().test.wkeTestNewFrame(View());
        ASSERT_TRUE(PumpUntil([&] { return Engine().Count("wkePaint") > paints; }));
        // While bound, the pump thread and the renderer's DC and surface are live.
        EXPECT_GE(LiveObjects(LiveKind::Dc), 1);
        EXPECT_GE(LiveObjects(LiveKind::GdiObject), 1);
        host_->Destroy();
    };
    // Once first: whatever stays loaded for the process's life is loaded now.
    cycle(kRendererD2d);
    const Counters start = Now();
    for (int i = 0; i < 100 && !HasFatalFailure(); ++i) cycle(kRendererGdi);
    // The default kind, Direct2D tried first, costs far more per binding under Wine: a few do.
    for (int i = 0; i < 5 && !HasFatalFailure(); ++i) cycle(kRendererD2d);
    EXPECT_EQ(Now(), start);
    EXPECT_EQ(Engine().Count("wkeCreateWebView"), 106);
    EXPECT_EQ(Engine().Count("wkeDestroyWebView"), 106);
}

}  // namespace
