// The engine's life: started when the main window exists, shut down when it goes.
#include "webview/web_view_host.h"

void StartWebEngine() {
    wkeInit();
    InstallTabKeyHook();
}

void StopWebEngine() { wkeShutdown(); }

void ExitCleanup() {
    if (!g_webView) return;
    g_webView->Finalize();
    delete g_webView;
}
