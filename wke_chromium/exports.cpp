// The wke entries: argument checks and the view-0 rule, then the engine. No exception leaves here.
#define WKE_BUILDING_ENGINE
#include "../engine/wke.h"

#include <string>

#include "engine.h"
#include "text.h"

using wkechr::Engine;
using wkechr::View;

namespace {

template <typename R, typename F>
R Guarded(R fallback, F&& body) {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

template <typename F>
void Guarded(F&& body) {
    try {
        body();
    } catch (...) {
    }
}

std::shared_ptr<View> Get(wkeWebView view) { return Engine::Instance().Find(view); }

std::wstring Copy(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

}  // namespace

extern "C" {

WKE_API void WKE_CALL wkeInit(void) { Guarded([] { Engine::Instance().Init(); }); }

WKE_API void WKE_CALL wkeShutdown(void) { Guarded([] { Engine::Instance().Shutdown(); }); }

WKE_API wkeWebView WKE_CALL wkeCreateWebView(void) {
    return Guarded<wkeWebView>(nullptr, [] { return Engine::Instance().CreateView(); });
}

WKE_API void WKE_CALL wkeDestroyWebView(wkeWebView view) {
    Guarded([&] { Engine::Instance().DestroyView(view); });
}

WKE_API void WKE_CALL wkeSetTransparent(wkeWebView view, wkeBool transparent) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().SetTransparent(*v, (transparent & 0xFF) != 0);
    });
}

WKE_API void WKE_CALL wkeSetClientHandler(wkeWebView view, const wkeClientHandler* handler) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().SetHandler(*v, handler);
    });
}

WKE_API const wchar_t* WKE_CALL wkeToStringW(wkeString string) { return string ? string->text.c_str() : nullptr; }

WKE_API void WKE_CALL wkeResize(wkeWebView view, int w, int h) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().Resize(*v, w, h);
    });
}

WKE_API int WKE_CALL wkeWidth(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v ? Engine::Instance().Width(*v) : 0;
    });
}

WKE_API int WKE_CALL wkeHeight(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v ? Engine::Instance().Height(*v) : 0;
    });
}

WKE_API int WKE_CALL wkeContentsWidth(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v ? Engine::Instance().ContentsSize(*v).first : 0;
    });
}

WKE_API int WKE_CALL wkeContentsHeight(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v ? Engine::Instance().ContentsSize(*v).second : 0;
    });
}

WKE_API void WKE_CALL wkeSetDirty(wkeWebView view, wkeBool dirty) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().SetDirty(*v, (dirty & 0xFF) != 0);
    });
}

WKE_API wkeBool WKE_CALL wkeIsDirty(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().IsDirty(*v) ? 1 : 0;
    });
}

WKE_API void WKE_CALL wkePaint(wkeWebView view, void* bits, int pitch) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().Paint(*v, bits, pitch);
    });
}

WKE_API wkeBool WKE_CALL wkeKeyDown(wkeWebView view, unsigned int key, unsigned int flags, wkeBool systemKey) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().KeyEvent(*v, "rawKeyDown", key, flags, (systemKey & 0xFF) != 0) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeKeyUp(wkeWebView view, unsigned int key, unsigned int flags, wkeBool systemKey) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().KeyEvent(*v, "keyUp", key, flags, (systemKey & 0xFF) != 0) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeKeyPress(wkeWebView view, unsigned int charCode, unsigned int flags, wkeBool systemKey) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().CharEvent(*v, charCode, flags, (systemKey & 0xFF) != 0) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeMouseEvent(wkeWebView view, unsigned int message, int x, int y, unsigned int flags) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().MouseEvent(*v, message, x, y, flags) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeContextMenuEvent(wkeWebView view, int x, int y, unsigned int flags) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().ContextMenu(*v, x, y, flags) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeMouseWheel(wkeWebView view, int x, int y, int delta, unsigned int flags) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().Wheel(*v, x, y, delta, flags) ? 1 : 0;
    });
}

WKE_API void WKE_CALL wkeFocus(wkeWebView view) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().SetFocus(*v, true);
    });
}

WKE_API void WKE_CALL wkeUnfocus(wkeWebView view) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().SetFocus(*v, false);
    });
}

WKE_API wkeRect WKE_CALL wkeGetCaret(wkeWebView view) {
    return Guarded(wkeRect{0, 0, 0, 0}, [&] {
        auto v = Get(view);
        return v ? Engine::Instance().Caret(*v) : wkeRect{0, 0, 0, 0};
    });
}

WKE_API void WKE_CALL wkeLoadURLW(wkeWebView view, const wchar_t* url) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().Navigate(*v, wkechr::AddressFromTyped(Copy(url)));
    });
}

WKE_API void WKE_CALL wkeLoadHTMLW(wkeWebView view, const wchar_t* html) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().LoadHtml(*v, Copy(html));
    });
}

WKE_API void WKE_CALL wkeLoadFileW(wkeWebView view, const wchar_t* path) {
    Guarded([&] {
        auto v = Get(view);
        if (!v) return;
        std::wstring text = wkechr::TrimSpace(Copy(path));
        if (text.rfind(L"file:", 0) == 0 || text.rfind(L"FILE:", 0) == 0) {
            Engine::Instance().Navigate(*v, wkechr::ToUtf8(text));
            return;
        }
        if (text.empty()) {
            Engine::Instance().Navigate(*v, "about:blank");
            return;
        }
        wchar_t full[32768];
        DWORD n = GetFullPathNameW(text.c_str(), 32768, full, nullptr);
        std::wstring absolute = n > 0 && n < 32768 ? std::wstring(full, n) : text;
        Engine::Instance().Navigate(*v, wkechr::FileUrlFromPath(wkechr::BrowserSidePath(absolute)));
    });
}

WKE_API wkeBool WKE_CALL wkeIsLoaded(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().IsLoaded(*v) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeIsLoadFailed(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().IsLoadFailed(*v) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeIsLoadComplete(wkeWebView view) {
    return Guarded(1, [&] {
        auto v = Get(view);
        return !v || Engine::Instance().IsLoadComplete(*v) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeIsDocumentReady(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().IsDocumentReady(*v) ? 1 : 0;
    });
}

WKE_API void WKE_CALL wkeStopLoading(wkeWebView view) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().StopLoading(*v);
    });
}

WKE_API void WKE_CALL wkeReload(wkeWebView view) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().Reload(*v);
    });
}

WKE_API void WKE_CALL wkeSelectAll(wkeWebView view) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().EditCommand(*v, "selectAll");
    });
}

WKE_API void WKE_CALL wkeCopy(wkeWebView view) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().EditCommand(*v, "copy");
    });
}

WKE_API void WKE_CALL wkeCut(wkeWebView view) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().EditCommand(*v, "cut");
    });
}

WKE_API void WKE_CALL wkePaste(wkeWebView view) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().EditCommand(*v, "paste");
    });
}

WKE_API void WKE_CALL wkeDelete(wkeWebView view) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().EditCommand(*v, "delete");
    });
}

WKE_API const wchar_t* WKE_CALL wkeTitleW(wkeWebView view) {
    return Guarded<const wchar_t*>(nullptr, [&]() -> const wchar_t* {
        auto v = Get(view);
        return v ? Engine::Instance().Title(*v) : nullptr;
    });
}

WKE_API wkeBool WKE_CALL wkeCanGoBack(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().CanGo(*v, -1) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeGoBack(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().Go(*v, -1) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeCanGoForward(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().CanGo(*v, 1) ? 1 : 0;
    });
}

WKE_API wkeBool WKE_CALL wkeGoForward(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().Go(*v, 1) ? 1 : 0;
    });
}

WKE_API void WKE_CALL wkeSetCookieEnabled(wkeWebView view, wkeBool enabled) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().SetCookies(*v, (enabled & 0xFF) != 0);
    });
}

WKE_API wkeBool WKE_CALL wkeCookieEnabled(wkeWebView view) {
    return Guarded(0, [&] {
        auto v = Get(view);
        return v && Engine::Instance().CookiesEnabled(*v) ? 1 : 0;
    });
}

WKE_API void WKE_CALL wkeSetEditable(wkeWebView view, wkeBool editable) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().SetEditable(*v, (editable & 0xFF) != 0);
    });
}

WKE_API void WKE_CALL wkeSetMediaVolume(wkeWebView view, float volume) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().SetVolume(*v, volume);
    });
}

WKE_API float WKE_CALL wkeMediaVolume(wkeWebView view) {
    return Guarded(0.0f, [&] {
        auto v = Get(view);
        return v ? Engine::Instance().Volume(*v) : 0.0f;
    });
}

WKE_API void WKE_CALL wkeSetZoomFactor(wkeWebView view, float factor) {
    Guarded([&] {
        if (auto v = Get(view)) Engine::Instance().SetZoom(*v, factor);
    });
}

WKE_API float WKE_CALL wkeZoomFactor(wkeWebView view) {
    return Guarded(0.0f, [&] {
        auto v = Get(view);
        return v ? Engine::Instance().Zoom(*v) : 0.0f;
    });
}

WKE_API jsValue WKE_CALL wkeRunJSW(wkeWebView view, const wchar_t* script) {
    return Guarded<jsValue>(0, [&]() -> jsValue {
        auto v = Get(view);
        return v && script ? Engine::Instance().RunScript(*v, wkechr::ToUtf8(script)) : 0;
    });
}

WKE_API jsValue WKE_CALL wkeRunJS(wkeWebView view, const char* script) {
    return Guarded<jsValue>(0, [&]() -> jsValue {
        auto v = Get(view);
        // Whatever the bytes are, what reaches the browser is valid UTF-8.
        return v && script ? Engine::Instance().RunScript(*v, wkechr::ToUtf8(wkechr::FromUtf8(script))) : 0;
    });
}

}  // extern "C"
