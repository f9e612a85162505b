// The object itself: construction, finalization, copy, and binding an engine view to a window.
#include "webview/web_view_host.h"

#include "render/view_renderer.h"
#include "webview/display_attachment.h"

WebViewHost* g_webView = nullptr;

WebViewHost::WebViewHost() : renderer(new ViewRenderer()), clientHandler(new ClientHandler{}) {}

void WebViewHost::Finalize() {
    Destroy();
    DestroyRenderer(renderer);
    renderer = nullptr;
    delete clientHandler;
    clientHandler = nullptr;
}

WebViewHost* WebViewHost::Clone() {
    auto* copy = new WebViewHost();
    copy->view = view.load();
    copy->prevWndProc = prevWndProc;
    copy->hwnd = hwnd.load();
    copy->titleChangedHandler = titleChangedHandler;
    copy->urlChangedHandler = urlChangedHandler;
    *copy->clientHandler = *clientHandler;
    DestroyRenderer(copy->renderer);
    copy->renderer = renderer->Clone();
    return copy;
}

bool WebViewHost::Create(HWND window, int kind, bool transparent) {
    if (view.load()) return true;
    if (!IsWindow(window)) return false;
    hwnd = window;
    wkeWebView created = wkeCreateWebView();
    if (!created) return false;
    view = created;
    wkeSetTransparent(created, transparent ? 1 : 0);
    AttachDisplay(*this, kind);
    return true;
}

void WebViewHost::Destroy() {
    DetachDisplayBeforeViewDestroyed(*this);
    if (wkeWebView v = view.load()) {
        wkeDestroyWebView(v);
        view = nullptr;
    }
    DetachDisplayAfterViewDestroyed(*this);
}

HWND WebViewHost::GetWindowHandle() { return hwnd.load(); }
