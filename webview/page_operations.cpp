// The everyday page operations: each is one engine call on the host's view.
#include "webview/text_conversion.h"
#include "webview/web_view_host.h"

namespace {
int Truth(wkeBool answer) { return (answer & 0xFF) != 0 ? 1 : 0; }
wkeBool Flag(int value) { return value != 0 ? 1 : 0; }
}  // namespace

void WebViewHost::LoadUrl(const Text& url) { wkeLoadURLW(view.load(), AsWide(GbkToUtf16(url))); }
void WebViewHost::LoadUrlW(const ByteBuffer& url) { wkeLoadURLW(view.load(), AsWide(url)); }
void WebViewHost::LoadHtml(const Text& html) { wkeLoadHTMLW(view.load(), AsWide(GbkToUtf16(html))); }
void WebViewHost::LoadHtmlW(const ByteBuffer& html) { wkeLoadHTMLW(view.load(), AsWide(html)); }
void WebViewHost::LoadFile(const Text& path) { wkeLoadFileW(view.load(), AsWide(GbkToUtf16(path))); }
void WebViewHost::LoadFileW(const ByteBuffer& path) { wkeLoadFileW(view.load(), AsWide(path)); }

int WebViewHost::IsLoaded() { return Truth(wkeIsLoaded(view.load())); }
int WebViewHost::IsLoadFailed() { return Truth(wkeIsLoadFailed(view.load())); }
int WebViewHost::IsLoadComplete() { return Truth(wkeIsLoadComplete(view.load())); }
int WebViewHost::IsDocumentReady() { return Truth(wkeIsDocumentReady(view.load())); }
void WebViewHost::StopLoading() { wkeStopLoading(view.load()); }
void WebViewHost::Reload() { wkeReload(view.load()); }

Text WebViewHost::GetTitle() { return Utf16ToGbk(wkeTitleW(view.load())); }

ByteBuffer WebViewHost::GetTitleW() {
    const wchar_t* title = wkeTitleW(view.load());
    if (!title) return ByteBuffer(2, 0);
    size_t bytes = static_cast<size_t>(lstrlenW(title)) * 2 + 2;
    const auto* first = reinterpret_cast<const std::uint8_t*>(title);
    return ByteBuffer(first, first + bytes);
}

int WebViewHost::Width() { return wkeWidth(view.load()); }
int WebViewHost::Height() { return wkeHeight(view.load()); }
int WebViewHost::ContentsWidth() { return wkeContentsWidth(view.load()); }
int WebViewHost::ContentsHeight() { return wkeContentsHeight(view.load()); }
int WebViewHost::CanGoBack() { return Truth(wkeCanGoBack(view.load())); }
int WebViewHost::GoBack() { return Truth(wkeGoBack(view.load())); }
int WebViewHost::CanGoForward() { return Truth(wkeCanGoForward(view.load())); }
int WebViewHost::GoForward() { return Truth(wkeGoForward(view.load())); }
void WebViewHost::SelectAll() { wkeSelectAll(view.load()); }
void WebViewHost::Copy() { wkeCopy(view.load()); }
void WebViewHost::Cut() { wkeCut(view.load()); }
void WebViewHost::Paste() { wkePaste(view.load()); }
void WebViewHost::Delete() { wkeDelete(view.load()); }
void WebViewHost::SetCookieEnabled(int enabled) { wkeSetCookieEnabled(view.load(), Flag(enabled)); }
int WebViewHost::CookieEnabled() { return Truth(wkeCookieEnabled(view.load())); }
void WebViewHost::SetMediaVolume(float volume) { wkeSetMediaVolume(view.load(), volume); }
float WebViewHost::MediaVolume() { return wkeMediaVolume(view.load()); }
void WebViewHost::SetZoomFactor(float factor) { wkeSetZoomFactor(view.load(), factor); }
float WebViewHost::ZoomFactor() { return wkeZoomFactor(view.load()); }
void WebViewHost::SetEditable(int editable) { wkeSetEditable(view.load(), Flag(editable)); }
jsValue WebViewHost::RunJs(const Text& script) { return wkeRunJSW(view.load(), AsWide(GbkToUtf16(script))); }
jsValue WebViewHost::RunJsW(const ByteBuffer& script) { return wkeRunJSW(view.load(), AsWide(script)); }
