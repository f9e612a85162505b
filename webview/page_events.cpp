#include "webview/page_events.h"

#include "webview/callback_adapter.h"
#include "webview/text_conversion.h"
#include "webview/web_view_host.h"

namespace {

void Deliver(PageEventHandler& handler, wkeString string) {
    if (!handler) return;
    Text text = Utf16ToGbk(wkeToStringW(string));
    if (PageEventHandler current = handler) current(text.c_str());
}

}  // namespace

void WINAPI TitleChangedEntry(void* record, wkeString title) {
    static_cast<ClientHandler*>(record)->owner->HandleTitleChanged(title);
}

void WINAPI UrlChangedEntry(void* record, wkeString url) {
    static_cast<ClientHandler*>(record)->owner->HandleUrlChanged(url);
}

void WebViewHost::HandleTitleChanged(wkeString title) { Deliver(titleChangedHandler, title); }
void WebViewHost::HandleUrlChanged(wkeString url) { Deliver(urlChangedHandler, url); }

void WebViewHost::InstallClientHandler() {
    ClientHandler& record = *clientHandler;
    record.owner = this;
    record.titleChangedEntry = BuildCallbackAdapter(reinterpret_cast<void*>(&TitleChangedEntry), 2);
    record.urlChangedEntry = BuildCallbackAdapter(reinterpret_cast<void*>(&UrlChangedEntry), 2);
    wkeSetClientHandler(view.load(), reinterpret_cast<const wkeClientHandler*>(clientHandler));
}

void WebViewHost::SetTitleChangedHandler(PageEventHandler handler) { titleChangedHandler = handler; }
void WebViewHost::SetUrlChangedHandler(PageEventHandler handler) { urlChangedHandler = handler; }
