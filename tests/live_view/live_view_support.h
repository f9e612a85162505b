// What the live-view tests share: a window with a procedure of its own that records what reaches
// it, message pumping with generous limits, reading the screen, and a guard against hangs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/scoped_win.h"
#include "tests/driver/driver.h"
#include "tests/test_engine/test_engine_control.h"
#include "tests/test_engine/test_pattern.h"

namespace live_view {

// Answers every message the host passes on with kOwnAnswer, so a test can tell where it ended.
constexpr LRESULT kOwnAnswer = 0x5EED;

struct OwnMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

inline std::vector<OwnMessage>& OwnMessages() {
    static std::vector<OwnMessage> messages;
    return messages;
}

inline LRESULT CALLBACK OwnProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    OwnMessages().push_back({message, wParam, lParam});
    switch (message) {
        case WM_NCCREATE:
        case WM_CREATE:
        case WM_NCCALCSIZE:
        case WM_GETMINMAXINFO:
        case WM_NCACTIVATE:
        case WM_ACTIVATE:
        case WM_WINDOWPOSCHANGING:
        case WM_WINDOWPOSCHANGED:
        case WM_SHOWWINDOW:
        case WM_SYSCOMMAND:
        case WM_NCPAINT:
        case WM_ERASEBKGND:
        case WM_PAINT:
        case WM_NCHITTEST:
        case WM_SETCURSOR:
        case WM_MOUSEACTIVATE:
        case WM_ACTIVATEAPP:
        case WM_DESTROY:
        case WM_NCDESTROY:
        case WM_SIZE:
        case WM_MOVE:
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_QUERYOPEN:
        case WM_GETTEXT:
        case WM_GETTEXTLENGTH:
        case WM_GETICON:
        case WM_CAPTURECHANGED:
        case WM_IME_SETCONTEXT:
        case WM_IME_NOTIFY:
            return DefWindowProcW(window, message, wParam, lParam);
        default:
            return kOwnAnswer;
    }
}

inline bool OwnProcedureSaw(UINT message) {
    for (const OwnMessage& m : OwnMessages())
        if (m.message == message) return true;
    return false;
}

// A visible top-level window whose own procedure is OwnProcedure.
class OwnWindow {
public:
    explicit OwnWindow(int width = 400, int height = 300, int x = 40, int y = 40) {
        static const ATOM registered = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = OwnProcedure;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
            wc.lpszClassName = L"LiveViewOwnWindow";
            return RegisterClassExW(&wc);
        }();
        (void)registered;
        // A popup: without a window manager, Wine waits two seconds for one whenever a framed
        // window is hidden or destroyed.
        window_ = CreateWindowExW(0, L"LiveViewOwnWindow", L"live view", WS_POPUP | WS_VISIBLE,
                                  x, y, width, height, nullptr, nullptr, GetModuleHandleW(nullptr),
                                  nullptr);
        UpdateWindow(window_);
    }
    ~OwnWindow() {
        if (IsWindow(window_)) DestroyWindow(window_);
    }
    OwnWindow(const OwnWindow&) = delete;
    OwnWindow& operator=(const OwnWindow&) = delete;

    HWND Get() const { return window_; }
    WNDPROC Proc() const { return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window_, GWLP_WNDPROC)); }
    SIZE ClientSize() const {
        RECT rc{};
        GetClientRect(window_, &rc);
        return SIZE{rc.right, rc.bottom};
    }

private:
    HWND window_ = nullptr;
};

inline void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Dispatches this thread's messages for a while (a settling period, never a measurement).
inline void PumpFor(int milliseconds) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
    while (GetTickCount64() < end) {
        PumpPending();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    PumpPending();
}

// Dispatches messages until done() holds; false if it did not within the (generous) limit.
inline bool PumpUntil(const std::function<bool()>& done, int limitMilliseconds = 30000) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(limitMilliseconds);
    for (;;) {
        PumpPending();
        if (done()) return true;
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// Ends the process if a test has not finished long after it should have: a deadlock is reported as
// a failure instead of stalling the run.
class HangGuard {
public:
    explicit HangGuard(const char* what, int seconds = 120) : what_(what) {
        thread_ = std::thread([this, seconds] {
            if (WaitForSingleObject(done_, static_cast<DWORD>(seconds) * 1000) == WAIT_TIMEOUT) {
                std::fprintf(stderr, "HANG: %s did not finish\n", what_);
                std::fflush(stderr);
                ExitProcess(3);
            }
        });
    }
    ~HangGuard() {
        SetEvent(done_);
        thread_.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

private:
    const char* what_;
    ScopedHandle done_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread thread_;
};

// The screen's pixels in a rectangle (screen coordinates), as 0x00RRGGBB, rows top to bottom.
inline std::vector<std::uint32_t> ReadScreen(const RECT& r) {
    std::optional<driver::Image> image = driver::CaptureScreen(r);
    return image ? std::move(image->pixels) : std::vector<std::uint32_t>{};
}

// A client rectangle of window in screen coordinates.
inline RECT ClientToScreenRect(HWND window, RECT r) {
    MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// How many pixels of a client rectangle show the test engine's gradient for the page at address
// (UTF-8; the empty text for the page never loaded).
inline int PatternPixels(HWND window, const RECT& client, int tolerance = 0,
                         std::string_view address = std::string_view()) {
    const std::uint8_t tag = test_engine::AddressTag(address);
    std::vector<std::uint32_t> got = ReadScreen(ClientToScreenRect(window, client));
    int matching = 0;
    const int w = client.right - client.left;
    for (size_t i = 0; i < got.size(); ++i) {
        const int x = client.left + static_cast<int>(i % static_cast<size_t>(w));
        const int y = client.top + static_cast<int>(i / static_cast<size_t>(w));
        const std::uint32_t want = test_engine::OnScreen(test_engine::GradientPixel(tag, x, y));
        bool close = true;
        for (int shift = 0; shift < 24; shift += 8) {
            int a = static_cast<int>((got[i] >> shift) & 0xFF), b = static_cast<int>((want >> shift) & 0xFF);
            if (a - b > tolerance || b - a > tolerance) close = false;
        }
        if (close) ++matching;
    }
    return matching;
}

inline int Area(const RECT& r) { return (r.right - r.left) * (r.bottom - r.top); }

}  // namespace live_view
