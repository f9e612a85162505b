// WebViewHost's binding to a window and its engine lifetime, against the test engine loaded in
// this process (wke.dll beside the test program).
#include <gtest/gtest.h>

#include <typeinfo>

#include "render/d2d_renderer.h"
#include "render/d3d9_renderer.h"
#include "render/gdi_renderer.h"
#include "render/view_renderer.h"
#include "tests/test_engine/test_engine_control.h"
#include "webview/web_view_host.h"

namespace {

class PlainWindow {
public:
    PlainWindow() {
        window_ = CreateWindowExW(0, L"STATIC", L"bound", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240,
                                  nullptr, nullptr, nullptr, nullptr);
    }
    ~PlainWindow() { DestroyWindow(window_); }
    HWND Get() const { return window_; }
    WNDPROC Proc() const { return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window_, GWLP_WNDPROC)); }

private:
    HWND window_;
};

class WebViewHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        wkeInit();  // loads the engine through the program's own binding
        engine_ = std::make_unique<test_engine::TestEngine>();
        ASSERT_TRUE(engine_->Complete());
        engine_->Reset();
    }
    void TearDown() override {
        host_->Finalize();
        delete host_;
    }
    test_engine::TestEngine& Engine() { return *engine_; }

    WebViewHost* host_ = new WebViewHost();
    PlainWindow window_;
    std::unique_ptr<test_engine::TestEngine> engine_;
};

TEST_F(WebViewHostTest, ConstructionGivesTheBaseRendererAndAnEmptyRecord) {
    EXPECT_EQ(typeid(*host_->renderer), typeid(ViewRenderer));
    ASSERT_NE(host_->clientHandler, nullptr);
    EXPECT_EQ(host_->clientHandler->titleChangedEntry, nullptr);
    EXPECT_EQ(host_->clientHandler->urlChangedEntry, nullptr);
    EXPECT_EQ(host_->clientHandler->owner, nullptr);
    EXPECT_EQ(host_->view.load(), nullptr);
    EXPECT_EQ(host_->GetWindowHandle(), nullptr);
}

TEST_F(WebViewHostTest, CreateOnAHandleThatIsNotAWindowStoresNothing) {
    EXPECT_FALSE(host_->Create(reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234))));
    EXPECT_EQ(host_->GetWindowHandle(), nullptr);
    EXPECT_EQ(Engine().Count(), 0);
}

TEST_F(WebViewHostTest, FailedEngineViewRecordsTheWindowButLeavesItsProcedure) {
    Engine().Script("fail-create 1");
    WNDPROC own = window_.Proc();
    EXPECT_FALSE(host_->Create(window_.Get()));
    EXPECT_EQ(host_->GetWindowHandle(), window_.Get());
    EXPECT_EQ(Engine().Count("wkeSetTransparent"), 0);
    host_->Destroy();
    EXPECT_EQ(host_->GetWindowHandle(), nullptr);
    EXPECT_EQ(window_.Proc(), own);
}

TEST_F(WebViewHostTest, SecondCreateWhileBoundChangesNothingEvenForAnotherWindow) {
    PlainWindow other;
    ASSERT_TRUE(host_->Create(window_.Get()));
    wkeWebView view = host_->view.load();
    EXPECT_TRUE(host_->Create(other.Get(), 0, true));
    EXPECT_EQ(host_->GetWindowHandle(), window_.Get());
    EXPECT_EQ(host_->view.load(), view);
    EXPECT_EQ(Engine().Count("wkeCreateWebView"), 1);
    EXPECT_EQ(Engine().Calls("wkeSetTransparent"), std::vector<std::string>{"wkeSetTransparent(#1, 0)"});
}

TEST_F(WebViewHostTest, TransparencyIsSentAsExactlyOne) {
    ASSERT_TRUE(host_->Create(window_.Get(), 1, true));
    EXPECT_EQ(Engine().Calls("wkeSetTransparent"), std::vector<std::string>{"wkeSetTransparent(#1, 1)"});
}

TEST_F(WebViewHostTest, DestroyUndoesTheBindingAndASecondDestroyMakesNoEngineCall) {
    WNDPROC own = window_.Proc();
    ASSERT_TRUE(host_->Create(window_.Get()));
    EXPECT_NE(window_.Proc(), own);
    host_->Destroy();
    EXPECT_EQ(window_.Proc(), own);
    EXPECT_EQ(host_->GetWindowHandle(), nullptr);
    EXPECT_EQ(host_->view.load(), nullptr);
    EXPECT_EQ(Engine().Calls("wkeDestroyWebView"), std::vector<std::string>{"wkeDestroyWebView(#1)"});

    Engine().ClearLog();
    host_->Destroy();
    EXPECT_EQ(Engine().Count(), 0);
}

TEST_F(WebViewHostTest, DestroyOnANeverBoundObjectMakesNoEngineCall) {
    host_->Destroy();
    host_->Destroy();
    EXPECT_EQ(Engine().Count(), 0);
    EXPECT_EQ(typeid(*host_->renderer), typeid(ViewRenderer));
}

TEST_F(WebViewHostTest, CreateAfterDestroyBindsAgainWithANewViewAndRenderer) {
    const WNDPROC own = window_.Proc();
    ASSERT_TRUE(host_->Create(window_.Get(), 0));
    host_->Destroy();
    ASSERT_EQ(window_.Proc(), own);
    EXPECT_EQ(host_->clientHandler->titleChangedEntry, nullptr);

    ASSERT_TRUE(host_->Create(window_.Get(), 0));
    EXPECT_EQ(host_->view.load(), Engine().View(2));
    EXPECT_EQ(Engine().Count("wkeCreateWebView"), 2);
    // Subclassed again, with the window's own procedure recorded again.
    EXPECT_NE(window_.Proc(), own);
    EXPECT_EQ(host_->prevWndProc, own);
    EXPECT_EQ(GetWindowLongPtrW(window_.Get(), GWLP_USERDATA), reinterpret_cast<LONG_PTR>(host_));
    // New adapters handed to the new view, and a GDI renderer bound to the window.
    EXPECT_NE(host_->clientHandler->titleChangedEntry, nullptr);
    EXPECT_NE(host_->clientHandler->urlChangedEntry, nullptr);
    EXPECT_EQ(host_->clientHandler->owner, host_);
    std::vector<std::string> installs = Engine().Calls("wkeSetClientHandler");
    ASSERT_EQ(installs.size(), 2u);
    EXPECT_EQ(installs[1].rfind("wkeSetClientHandler(#2, ", 0), 0u) << installs[1];
    ASSERT_EQ(typeid(*host_->renderer), typeid(GdiRenderer));
    EXPECT_EQ(static_cast<GdiRenderer*>(host_->renderer)->hwnd, window_.Get());
}

// Destroy gives a window its procedure back only while the window still runs this host's.
TEST_F(WebViewHostTest, DestroyLeavesAProcedureThatIsNotOurs) {
    const WNDPROC own = window_.Proc();
    PlainWindow other;
    const WNDPROC otherOwn = other.Proc();

    // Create(A), Destroy, then a Create(B) whose view fails: prevWndProc still holds A's procedure.
    ASSERT_TRUE(host_->Create(window_.Get()));
    host_->Destroy();
    Engine().Script("fail-create 1");
    EXPECT_FALSE(host_->Create(other.Get()));
    ASSERT_EQ(host_->prevWndProc, own);
    host_->Destroy();
    EXPECT_EQ(other.Proc(), otherOwn) << "B was given A's procedure";
    EXPECT_EQ(host_->GetWindowHandle(), nullptr);

    // Someone subclasses A over ours: Destroy does not throw their procedure away.
    ASSERT_TRUE(host_->Create(window_.Get()));
    const WNDPROC theirs = DefWindowProcW;
    SetWindowLongPtrW(window_.Get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(theirs));
    host_->Destroy();
    EXPECT_EQ(window_.Proc(), theirs);
    SetWindowLongPtrW(window_.Get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
}

TEST_F(WebViewHostTest, FinalizeDestroysTheViewOnce) {
    ASSERT_TRUE(host_->Create(window_.Get()));
    host_->Finalize();
    EXPECT_EQ(Engine().Count("wkeDestroyWebView"), 1);
    delete host_;
    host_ = new WebViewHost();  // for TearDown
}

TEST_F(WebViewHostTest, CloneCopiesTheFieldsWithARecordAndRendererOfItsOwn) {
    ASSERT_TRUE(host_->Create(window_.Get(), 0));
    WebViewHost* copy = host_->Clone();
    EXPECT_EQ(copy->view.load(), host_->view.load());
    EXPECT_EQ(copy->hwnd.load(), host_->hwnd.load());
    EXPECT_EQ(copy->prevWndProc, host_->prevWndProc);
    EXPECT_NE(copy->clientHandler, host_->clientHandler);
    EXPECT_EQ(copy->clientHandler->owner, host_->clientHandler->owner);
    EXPECT_EQ(copy->clientHandler->titleChangedEntry, host_->clientHandler->titleChangedEntry);
    EXPECT_NE(copy->renderer, host_->renderer);
    EXPECT_EQ(typeid(*copy->renderer), typeid(*host_->renderer));
    // The copy shares the engine view; only its own storage is dropped.
    DestroyRenderer(copy->renderer);
    delete copy->clientHandler;
    copy->renderer = nullptr;
    copy->clientHandler = nullptr;
    delete copy;
}

TEST(CreateRendererTest, KindSelectsTheClassAndEveryOtherValueGivesGdi) {
    const struct {
        RendererKind kind;
        const std::type_info& type;
    } cases[] = {
        {0, typeid(GdiRenderer)},  {1, typeid(D2dRenderer)},  {2, typeid(D3d9Renderer)},
        {3, typeid(GdiRenderer)},  {-1, typeid(GdiRenderer)}, {100, typeid(GdiRenderer)},
    };
    for (const auto& c : cases) {
        ViewRenderer* r = CreateRenderer(c.kind);
        EXPECT_EQ(typeid(*r), c.type) << "kind " << c.kind;
        DestroyRenderer(r);
    }
}

TEST(CreateRendererTest, TheBaseRendererDoesNothingAndRefusesToInit) {
    ViewRenderer base;
    EXPECT_FALSE(base.Init(GetDesktopWindow()));
    base.Resize(10, 10);
    base.Render(nullptr);
    base.Release();
    base.Release();
}

// The program's loops: what the hook already dispatched is not dispatched again.
void PumpLikeTheProgram() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (TakeTabKeyDispatchedByHook(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

std::wstring TextOf(HWND window) {
    wchar_t buffer[64] = L"";
    GetWindowTextW(window, buffer, 64);
    return buffer;
}

TEST(TabKeyHookTest, InstallsOnceAndDeliversOneTabPerKeyPress) {
    ASSERT_TRUE(InstallTabKeyHook());
    HHOOK hook = g_tabKeyHook;
    EXPECT_TRUE(InstallTabKeyHook());
    EXPECT_EQ(g_tabKeyHook, hook);

    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | ES_MULTILINE | ES_WANTRETURN,
                                0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    PostMessageW(edit, WM_KEYDOWN, VK_TAB, 0x000F0001);
    PostMessageW(edit, WM_KEYUP, VK_TAB, static_cast<LPARAM>(0xC00F0001u));
    PumpLikeTheProgram();
    EXPECT_EQ(TextOf(edit), L"\t");

    // Other keys are left to the loop: one key press, one character.
    PostMessageW(edit, WM_KEYDOWN, 'A', 0x001E0001);
    PumpLikeTheProgram();
    EXPECT_EQ(TextOf(edit), L"\ta");
    DestroyWindow(edit);
}

TEST(TabKeyHookTest, TheHookAloneDeliversTheTabBeforeTheLoopLooksAtIt) {
    ASSERT_TRUE(InstallTabKeyHook());
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | ES_MULTILINE, 0, 0, 200, 100,
                                nullptr, nullptr, nullptr, nullptr);
    PostMessageW(edit, WM_KEYDOWN, VK_TAB, 0x000F0001);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
    EXPECT_TRUE(TakeTabKeyDispatchedByHook(msg));
    EXPECT_FALSE(TakeTabKeyDispatchedByHook(msg));  // taken once
    // The character the hook's TranslateMessage queued is all that is left to deliver.
    PumpLikeTheProgram();
    EXPECT_EQ(TextOf(edit), L"\t");
    DestroyWindow(edit);
}

}  // namespace
