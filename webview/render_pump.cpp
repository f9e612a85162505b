#include "webview/web_view_host.h"

// The pump asks; the UI thread draws (WM_VIEW_REPAINT is answered inside WindowProc). hwnd and view
// are read afresh at every use, and a cleared hwnd ends the loop at once: Destroy clears it and
// waits for the loop to end before the engine view goes.
void WebViewHost::RenderLoop() {
    MSG msg{};
    for (;;) {
        if (msg.message == WM_QUIT || !IsWindow(hwnd.load())) break;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) continue;
        HWND window = hwnd.load();
        if (!window) break;
        if (!IsIconic(window)) {
            wkeWebView v = view.load();
            if (v && (wkeIsDirty(v) & 0xFF)) {
                window = hwnd.load();
                if (!window) break;
                SendMessageW(window, WM_VIEW_REPAINT, 0, 0);
                continue;
            }
        }
        Sleep(10);
    }
}
