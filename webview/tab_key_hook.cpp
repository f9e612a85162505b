// The UI thread's message hook: a Tab key-down is translated and dispatched as soon as it is taken
// from the queue, before any dialog-style handling in a message loop can swallow it.
#include "webview/web_view_host.h"

HHOOK g_tabKeyHook = nullptr;

namespace {

// The Tab key-down the hook delivered last, until the loop that fetched it has seen it.
MSG g_dispatchedTab{};
bool g_hasDispatchedTab = false;

bool SameMessage(const MSG& a, const MSG& b) {
    return a.hwnd == b.hwnd && a.message == b.message && a.wParam == b.wParam &&
           a.lParam == b.lParam && a.time == b.time && a.pt.x == b.pt.x && a.pt.y == b.pt.y;
}

}  // namespace

bool InstallTabKeyHook() {
    if (g_tabKeyHook) return true;
    g_tabKeyHook = SetWindowsHookExW(WH_GETMESSAGE, TabKeyHookProc, nullptr, GetCurrentThreadId());
    return g_tabKeyHook != nullptr;
}

LRESULT CALLBACK TabKeyHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && wParam == PM_REMOVE && lParam) {
        const MSG& msg = *reinterpret_cast<const MSG*>(lParam);
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            g_dispatchedTab = msg;
            g_hasDispatchedTab = true;
        }
    }
    return CallNextHookEx(g_tabKeyHook, code, wParam, lParam);
}

bool TakeTabKeyDispatchedByHook(const MSG& msg) {
    if (!g_hasDispatchedTab || !SameMessage(msg, g_dispatchedTab)) return false;
    g_hasDispatchedTab = false;
    return true;
}
