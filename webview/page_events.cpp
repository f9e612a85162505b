#include "webview/web_view_host.h"

void WebViewHost::HandleTitleChanged(wkeString) {}
void WebViewHost::HandleUrlChanged(wkeString) {}

void WebViewHost::InstallClientHandler() {
    clientHandler->owner = this;
    wkeSetClientHandler(view.load(), reinterpret_cast<const wkeClientHandler*>(clientHandler));
}

void WebViewHost::SetTitleChangedHandler(PageEventHandler handler) { titleChangedHandler = handler; }
void WebViewHost::SetUrlChangedHandler(PageEventHandler handler) { urlChangedHandler = handler; }
