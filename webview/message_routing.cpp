#include "webview/web_view_host.h"

LRESULT WebViewHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(prevWndProc, window, message, wParam, lParam);
}
