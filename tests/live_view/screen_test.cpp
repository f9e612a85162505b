// The page on the program's own main window, read back from the screen: through the default path
// (Direct2D tried, then GDI) around the controls, which stay intact, and through Direct3D 9.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "app/main_window.h"
#include "base/scoped_win.h"
#include "render/d3d9_renderer.h"
#include "render/gdi_renderer.h"
#include "tests/live_view/live_view_support.h"
#include "webview/web_view_host.h"

namespace {

using live_view::Area;
using live_view::PatternPixels;
using live_view::PumpFor;
using live_view::PumpUntil;
using live_view::ReadScreen;
using Lines = std::vector<std::string>;

// Client-area places of MainWindow's form that no control covers: beside the list label, between
// the list and the buttons, left of the list inside the group box, and among the bottom row.
const RECT kFreePlaces[] = {
    {272, 14, 348, 28},
    {12, 529, 760, 535},
    {3, 40, 7, 520},
    {460, 578, 600, 600},
};

struct Part {
    std::string name;
    RECT client;  // client coordinates, inside the client area
    std::vector<std::uint32_t> pixels;
};

RECT ClientRect(HWND window) {
    RECT rc{};
    GetClientRect(window, &rc);
    return rc;
}

bool Clip(RECT& r, const RECT& client) { return IntersectRect(&r, &r, &client) != FALSE; }

bool IsGroupBox(HWND control) {
    wchar_t name[16] = L"";
    GetClassNameW(control, name, 16);
    return lstrcmpiW(name, L"Button") == 0 &&
           (GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// Every control's visible place, and the edges of the group box's frame that lie in the client
// area, with what the screen shows there now.
std::vector<Part> ControlsOnScreen(HWND main) {
    std::vector<Part> parts;
    const RECT client = ClientRect(main);
    struct Context {
        HWND main;
        RECT client;
        std::vector<Part>* parts;
    } context{main, client, &parts};
    EnumChildWindows(main, [](HWND control, LPARAM lp) -> BOOL {
        auto& c = *reinterpret_cast<Context*>(lp);
        if (!IsWindowVisible(control)) return TRUE;
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(HWND_DESKTOP, c.main, reinterpret_cast<POINT*>(&r), 2);
        std::string name = "control " + std::to_string(GetDlgCtrlID(control));
        if (IsGroupBox(control)) {
            // Its top line and its left edge; the interior is free.
            RECT top{r.left, r.top, r.right, r.top + 7}, left{r.left, r.top, r.left + 2, r.bottom};
            if (Clip(top, c.client)) c.parts->push_back({name + " top edge", top, {}});
            if (Clip(left, c.client)) c.parts->push_back({name + " left edge", left, {}});
        } else if (Clip(r, c.client)) {
            c.parts->push_back({name, r, {}});
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&context));
    for (Part& p : parts) p.pixels = ReadScreen(live_view::ClientToScreenRect(main, p.client));
    return parts;
}

class ScreenTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ole_ = new ScopedOle();
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        engine_ = new test_engine::TestEngine();  // wke.dll from this program's folder
        ASSERT_TRUE(engine_->Complete());
        engine_->Reset();
        // Nothing is drawn until the controls have been seen on their own.
        engine_->Script("answer wkeIsDirty 0");
        g_webView = new WebViewHost();
        main_ = LoadMainWindow(GetModuleHandleW(nullptr));
        ASSERT_NE(main_, nullptr);
    }
    static void TearDownTestSuite() {
        if (main_) DestroyWindow(main_);  // the program's own way: Destroy, then the engine's end
        ExitCleanup();
        g_webView = nullptr;
        delete engine_;
        delete ole_;
    }

    static test_engine::TestEngine& Engine() { return *engine_; }
    static int Paints() { return Engine().Count("wkePaint"); }
    static void NewFrames(WebViewHost& host, int count) {
        for (int i = 0; i < count; ++i) {
            const int before = Paints();
            Engine().test.wkeTestNewFrame(host.view.load());
            ASSERT_TRUE(PumpUntil([&] { return Paints() > before; }));
        }
    }
    static bool PatternIn(const RECT& place, int tolerance, std::string_view address = {}) {
        RECT r = place;
        if (!Clip(r, ClientRect(main_))) return false;
        return PatternPixels(main_, r, tolerance, address) == Area(r);
    }

    static inline ScopedOle* ole_ = nullptr;
    static inline test_engine::TestEngine* engine_ = nullptr;
    static inline HWND main_ = nullptr;
};

TEST_F(ScreenTest, TheDefaultPathShowsThePageWhereNoControlLiesAndLeavesTheControlsIntact) {
    ASSERT_EQ(typeid(*g_webView->renderer), typeid(GdiRenderer));
    RedrawWindow(main_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpFor(500);
    const std::vector<Part> before = ControlsOnScreen(main_);
    ASSERT_GE(before.size(), 10u);
    for (const RECT& place : kFreePlaces) EXPECT_FALSE(PatternIn(place, 0));

    // From here on the view is drawn as the program draws it: on paint and on every new frame.
    Engine().test.wkeTestSetTruth("wkeIsDirty", 1, 0);
    InvalidateRect(main_, nullptr, FALSE);
    ASSERT_TRUE(PumpUntil([&] { return Paints() >= 1; }));
    NewFrames(*g_webView, 3);
    PumpFor(300);

    for (size_t i = 0; i < std::size(kFreePlaces); ++i)
        EXPECT_TRUE(PumpUntil([&] { return PatternIn(kFreePlaces[i], 0); }, 5000)) << "free place " << i;

    const std::vector<Part> after = ControlsOnScreen(main_);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].name, before[i].name);
        EXPECT_TRUE(after[i].pixels == before[i].pixels)
            << before[i].name << " at (" << before[i].client.left << ", " << before[i].client.top
            << ") changed under the page";
    }
}

// A window that clips its children shows a Direct3D 9 frame only where no child lies.
TEST_F(ScreenTest, Direct3D9ShowsThePageOnAWindowWithRoomForIt) {
    // Never destroyed: under Wine that costs seconds and shows nothing.
    auto* window = new live_view::OwnWindow(400, 300, 860, 60);
    SetWindowLongPtrW(window->Get(), GWL_STYLE, GetWindowLongPtrW(window->Get(), GWL_STYLE) | WS_CLIPCHILDREN);
    CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE, 300, 250, 80, 24, window->Get(), nullptr,
                    nullptr, nullptr);
    WebViewHost host;
    ASSERT_TRUE(host.Create(window->Get(), kRendererD3d9));
    ASSERT_EQ(typeid(*host.renderer), typeid(D3d9Renderer));
    const char* address = "http://d3d9.test/";
    const RECT place{20, 20, 280, 220};
    EXPECT_EQ(PatternPixels(window->Get(), place, 1, address), 0);
    host.LoadUrl(address);
    NewFrames(host, 3);
    EXPECT_TRUE(PumpUntil([&] { return PatternPixels(window->Get(), place, 1, address) == Area(place); }, 10000));
    host.Finalize();
}

TEST_F(ScreenTest, Direct3D9ShowsThePageOnTheMainWindowAndPaintsEachFrameIntoItsTexture) {
    g_webView->Destroy();
    ASSERT_TRUE(g_webView->Create(main_, kRendererD3d9));
    ASSERT_EQ(typeid(*g_webView->renderer), typeid(D3d9Renderer));
    Engine().ClearLog();
    const char* address = "http://d3d9-main.test/";
    g_webView->LoadUrl(address);
    NewFrames(*g_webView, 3);
    const RECT client = ClientRect(main_);
    const RECT place{100, 100, 300, 300};
    EXPECT_TRUE(PumpUntil([&] { return PatternPixels(main_, place, 1, address) == Area(place); }, 10000));
    const Lines paints = Engine().Calls("wkePaint");
    ASSERT_GE(paints.size(), 3u);
    for (const std::string& paint : paints) {
        // wkePaint(#n, bits, pitch): the texture's own row pitch, at least a row of the client width.
        const int pitch = std::stoi(paint.substr(paint.rfind(' ') + 1));
        EXPECT_GE(pitch, client.right * 4) << paint;
    }
}

}  // namespace
