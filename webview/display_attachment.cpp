#include "webview/display_attachment.h"

#include "render/view_renderer.h"
#include "webview/callback_adapter.h"
#include "webview/web_view_host.h"

namespace {

void ReplaceRenderer(WebViewHost& host, RendererKind kind) {
    DestroyRenderer(host.renderer);
    host.renderer = CreateRenderer(kind);
}

// Waits for the pump to end while still answering the messages it sends (a WM_VIEW_REPAINT may be
// on its way at this very moment), so that the engine view is never destroyed under it. Sent
// messages already waiting are answered before each wait, since the wait only wakes for new ones.
void WaitForRenderPump(WebViewHost& host) {
    if (!host.renderPump) return;
    HANDLE pump = host.renderPump.Get();
    for (;;) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD r = MsgWaitForMultipleObjectsEx(1, &pump, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (r != WAIT_OBJECT_0 + 1) break;
    }
    host.renderPump.Reset();
}

}  // namespace

void AttachDisplay(WebViewHost& host, int kind) {
    HWND window = host.hwnd.load();
    ReplaceRenderer(host, kind);
    if (!host.renderer->Init(window)) {
        host.renderer->Release();
        ReplaceRenderer(host, kRendererGdi);
        host.renderer->Init(window);
    }
    host.InstallClientHandler();
    SubclassViewWindow(window, &host);
    DWORD threadId = 0;
    host.renderPump.Reset(CreateThread(nullptr, 0, RenderPumpThreadProc, &host, 0, &threadId));
}

void DetachDisplayBeforeViewDestroyed(WebViewHost& host) {
    if (HWND window = host.hwnd.load()) {
        // Only a window that still runs this host's subclassing gets its procedure back: after a
        // Create whose view failed, prevWndProc is another window's, and a procedure installed over
        // ours must not be thrown away.
        const bool ours =
            reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC)) == ViewSubclassProc &&
            reinterpret_cast<WebViewHost*>(GetWindowLongPtrW(window, GWLP_USERDATA)) == &host;
        if (host.prevWndProc && ours)
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(host.prevWndProc));
        host.hwnd = nullptr;
    }
    WaitForRenderPump(host);
}

void DetachDisplayAfterViewDestroyed(WebViewHost& host) {
    host.renderer->Release();
    ClientHandler& record = *host.clientHandler;
    if (record.urlChangedEntry) {
        FreeCallbackAdapter(record.urlChangedEntry);
        record.urlChangedEntry = nullptr;
    }
    if (record.titleChangedEntry) {
        FreeCallbackAdapter(record.titleChangedEntry);
        record.titleChangedEntry = nullptr;
    }
}

void SubclassViewWindow(HWND window, WebViewHost* host) {
    auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    if (current == ViewSubclassProc) return;
    auto previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ViewSubclassProc)));
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));
    host->prevWndProc = previous;
}

LRESULT CALLBACK ViewSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* host = reinterpret_cast<WebViewHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!host) return DefWindowProcW(window, message, wParam, lParam);
    return host->WindowProc(window, message, wParam, lParam);
}

DWORD WINAPI RenderPumpThreadProc(LPVOID parameter) {
    static_cast<WebViewHost*>(parameter)->RenderLoop();
    return 0;
}
