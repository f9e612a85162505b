#include <windows.h>
#include <imm.h>

#include <cstdint>

#include "base/scoped_win.h"
#include "render/view_renderer.h"
#include "webview/web_view_host.h"

namespace {

// Message parameters are 32-bit values here, whatever the width of WPARAM and LPARAM.
int LowWord(std::uintptr_t v) { return static_cast<int>(v & 0xFFFF); }
int HighWord(std::uintptr_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)) >> 16; }
int SignedLowWord(std::uintptr_t v) { return static_cast<std::int16_t>(v & 0xFFFF); }

unsigned KeyFlags(LPARAM lParam) {
    const unsigned high = static_cast<unsigned>(HighWord(static_cast<std::uintptr_t>(lParam)));
    unsigned flags = 0;
    if (high & 0x4000) flags |= WKE_REPEAT;
    if (high & 0x100) flags |= WKE_EXTENDED;
    return flags;
}

unsigned MouseFlags(WPARAM wParam) {
    unsigned flags = 0;
    if (wParam & MK_CONTROL) flags |= WKE_CONTROL;
    if (wParam & MK_SHIFT) flags |= WKE_SHIFT;
    if (wParam & MK_LBUTTON) flags |= WKE_LBUTTON;
    if (wParam & MK_MBUTTON) flags |= WKE_MBUTTON;
    if (wParam & MK_RBUTTON) flags |= WKE_RBUTTON;
    return flags;
}

// WM_CONTEXTMENU's wParam is a window handle, not key state: the state is asked for instead.
unsigned CurrentMouseFlags() {
    WPARAM state = 0;
    if (GetKeyState(VK_CONTROL) < 0) state |= MK_CONTROL;
    if (GetKeyState(VK_SHIFT) < 0) state |= MK_SHIFT;
    if (GetKeyState(VK_LBUTTON) < 0) state |= MK_LBUTTON;
    if (GetKeyState(VK_MBUTTON) < 0) state |= MK_MBUTTON;
    if (GetKeyState(VK_RBUTTON) < 0) state |= MK_RBUTTON;
    return MouseFlags(state);
}

bool IsButtonDown(UINT message) {
    return message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
}
bool IsButtonUp(UINT message) {
    return message == WM_LBUTTONUP || message == WM_RBUTTONUP || message == WM_MBUTTONUP;
}

bool Taken(wkeBool answer) { return (answer & 0xFF) != 0; }

void PlaceCandidateWindow(HWND window, wkeWebView view) {
    const wkeRect caret = wkeGetCaret(view);
    CANDIDATEFORM form{};
    form.dwIndex = 0;
    form.dwStyle = CFS_EXCLUDE;
    form.ptCurrentPos = POINT{caret.x, caret.y + caret.h};
    form.rcArea = RECT{caret.x, caret.y, caret.x + caret.w, caret.y + caret.h};
    ScopedImeContext context(window);
    ImmSetCandidateWindow(context, &form);
}

}  // namespace

LRESULT WebViewHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const wkeWebView v = view.load();
    auto previous = [&] { return CallWindowProcW(prevWndProc, window, message, wParam, lParam); };
    // No engine view (not bound any more): the window behaves as its own procedure says.
    if (!v) return previous();
    auto unlessTaken = [&](wkeBool answer) -> LRESULT { return Taken(answer) ? 0 : previous(); };
    const auto lp = static_cast<std::uintptr_t>(lParam);

    switch (message) {
        case WM_PAINT: {
            ScopedPaint paint(window);
            wkeSetDirty(v, 1);
            return 0;
        }
        case WM_SIZE: {
            const int w = LowWord(lp), h = HighWord(lp);
            wkeResize(v, w, h);
            renderer->Resize(w, h);
            return 0;
        }
        case WM_VIEW_REPAINT: {
            RECT rc{};
            GetClientRect(hwnd.load(), &rc);
            wkeResize(v, rc.right, rc.bottom);
            renderer->Render(v);
            return 0;
        }
        case WM_KEYDOWN:
            return unlessTaken(wkeKeyDown(v, static_cast<unsigned>(wParam), KeyFlags(lParam), 0));
        case WM_KEYUP:
            return unlessTaken(wkeKeyUp(v, static_cast<unsigned>(wParam), KeyFlags(lParam), 0));
        case WM_CHAR:
            return unlessTaken(wkeKeyPress(v, static_cast<unsigned>(wParam), KeyFlags(lParam), 0));
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_MBUTTONDBLCLK: {
            if (IsButtonDown(message)) {
                SetFocus(hwnd.load());
                SetCapture(hwnd.load());
            } else if (IsButtonUp(message)) {
                ReleaseCapture();
            }
            return unlessTaken(wkeMouseEvent(v, message, LowWord(lp), HighWord(lp), MouseFlags(wParam)));
        }
        case WM_CONTEXTMENU: {
            POINT pt{SignedLowWord(lp), HighWord(lp)};
            if (pt.x != -1 && pt.y != -1) ScreenToClient(window, &pt);
            return unlessTaken(wkeContextMenuEvent(v, pt.x, pt.y, CurrentMouseFlags()));
        }
        case WM_MOUSEWHEEL: {
            POINT pt{LowWord(lp), HighWord(lp)};
            ScreenToClient(window, &pt);
            const int delta = HighWord(static_cast<std::uintptr_t>(wParam));
            return unlessTaken(wkeMouseWheel(v, pt.x, pt.y, delta, MouseFlags(wParam)));
        }
        case WM_SETFOCUS:
            wkeFocus(v);
            return 0;
        case WM_KILLFOCUS:
            wkeUnfocus(v);
            return 0;
        case WM_IME_STARTCOMPOSITION:
            PlaceCandidateWindow(window, v);
            return 0;
        default:
            return previous();
    }
}
