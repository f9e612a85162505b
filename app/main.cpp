// Start-up: the program's folder as current directory, OLE on the UI thread, the one web view,
// the main window, and the message loop.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "app/main_window.h"
#include "base/scoped_win.h"
#include "base/wide.h"
#include "webview/web_view_host.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    SetCurrentDirectoryW(ToWide(ProgramFolder()).c_str());
    ScopedOle ole;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    g_webView = new WebViewHost();
    std::atexit(ExitCleanup);

    if (!LoadMainWindow(instance)) return 1;

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (TakeTabKeyDispatchedByHook(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
