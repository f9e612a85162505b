// The web engine library's interface, shared by the program (which binds each entry lazily,
// see wke_binding.cpp) and by every engine library we build (which export the entries).
//
// Every entry is a plain C function exported under its own undecorated name with the C calling
// convention (cdecl on i686). Notifications the engine makes through a client-handler record use
// that same convention. Text is UTF-16 except in wkeRunJS, which takes single-byte (UTF-8) text.
#pragma once

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(WKE_BUILDING_ENGINE)
#define WKE_API __declspec(dllexport)
#else
#define WKE_API
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define WKE_CALL __cdecl
#else
#define WKE_CALL
#endif

typedef struct wkeWebViewTag* wkeWebView;  // 0 = no view
typedef struct wkeStringTag* wkeString;    // valid during a notification
typedef int64_t jsValue;                   // opaque script value

// Engine truth values: only the low byte of the result counts; truth values sent are 1 or 0.
typedef int wkeBool;

typedef struct wkeRect {
    int x;
    int y;
    int w;
    int h;
} wkeRect;

// The engine reads the first two fields; whatever follows belongs to the caller.
typedef void(WKE_CALL* wkeNotifyEntry)(void* clientHandler, wkeString text);
typedef struct wkeClientHandler {
    wkeNotifyEntry onTitleChanged;
    wkeNotifyEntry onURLChanged;
} wkeClientHandler;

// Key flags
enum { WKE_REPEAT = 0x4000, WKE_EXTENDED = 0x100 };
// Mouse flags
enum { WKE_LBUTTON = 1, WKE_RBUTTON = 2, WKE_SHIFT = 4, WKE_CONTROL = 8, WKE_MBUTTON = 16 };

// X-macro over every entry: X(result, name, parameters, arguments). Engines and the program's
// binding expand it; the order is the interface table's.
#define WKE_FOR_EACH_ENTRY(X)                                                                     \
    X(void, wkeInit, (void), ())                                                                  \
    X(void, wkeShutdown, (void), ())                                                              \
    X(wkeWebView, wkeCreateWebView, (void), ())                                                   \
    X(void, wkeDestroyWebView, (wkeWebView view), (view))                                         \
    X(void, wkeSetTransparent, (wkeWebView view, wkeBool transparent), (view, transparent))       \
    X(void, wkeSetClientHandler, (wkeWebView view, const wkeClientHandler* handler),              \
      (view, handler))                                                                            \
    X(const wchar_t*, wkeToStringW, (wkeString string), (string))                                 \
    X(void, wkeResize, (wkeWebView view, int w, int h), (view, w, h))                             \
    X(int, wkeWidth, (wkeWebView view), (view))                                                   \
    X(int, wkeHeight, (wkeWebView view), (view))                                                  \
    X(int, wkeContentsWidth, (wkeWebView view), (view))                                           \
    X(int, wkeContentsHeight, (wkeWebView view), (view))                                          \
    X(void, wkeSetDirty, (wkeWebView view, wkeBool dirty), (view, dirty))                         \
    X(wkeBool, wkeIsDirty, (wkeWebView view), (view))                                             \
    X(void, wkePaint, (wkeWebView view, void* bits, int pitch), (view, bits, pitch))              \
    X(wkeBool, wkeKeyDown, (wkeWebView view, unsigned int key, unsigned int flags,                \
                            wkeBool systemKey), (view, key, flags, systemKey))                    \
    X(wkeBool, wkeKeyUp, (wkeWebView view, unsigned int key, unsigned int flags,                  \
                          wkeBool systemKey), (view, key, flags, systemKey))                      \
    X(wkeBool, wkeKeyPress, (wkeWebView view, unsigned int charCode, unsigned int flags,          \
                             wkeBool systemKey), (view, charCode, flags, systemKey))              \
    X(wkeBool, wkeMouseEvent, (wkeWebView view, unsigned int message, int x, int y,               \
                               unsigned int flags), (view, message, x, y, flags))                 \
    X(wkeBool, wkeContextMenuEvent, (wkeWebView view, int x, int y, unsigned int flags),          \
      (view, x, y, flags))                                                                        \
    X(wkeBool, wkeMouseWheel, (wkeWebView view, int x, int y, int delta, unsigned int flags),     \
      (view, x, y, delta, flags))                                                                 \
    X(void, wkeFocus, (wkeWebView view), (view))                                                  \
    X(void, wkeUnfocus, (wkeWebView view), (view))                                                \
    X(wkeRect, wkeGetCaret, (wkeWebView view), (view))                                            \
    X(void, wkeLoadURLW, (wkeWebView view, const wchar_t* url), (view, url))                      \
    X(void, wkeLoadHTMLW, (wkeWebView view, const wchar_t* html), (view, html))                   \
    X(void, wkeLoadFileW, (wkeWebView view, const wchar_t* path), (view, path))                   \
    X(wkeBool, wkeIsLoaded, (wkeWebView view), (view))                                            \
    X(wkeBool, wkeIsLoadFailed, (wkeWebView view), (view))                                        \
    X(wkeBool, wkeIsLoadComplete, (wkeWebView view), (view))                                      \
    X(wkeBool, wkeIsDocumentReady, (wkeWebView view), (view))                                     \
    X(void, wkeStopLoading, (wkeWebView view), (view))                                            \
    X(void, wkeReload, (wkeWebView view), (view))                                                 \
    X(void, wkeSelectAll, (wkeWebView view), (view))                                              \
    X(void, wkeCopy, (wkeWebView view), (view))                                                   \
    X(void, wkeCut, (wkeWebView view), (view))                                                    \
    X(void, wkePaste, (wkeWebView view), (view))                                                  \
    X(void, wkeDelete, (wkeWebView view), (view))                                                 \
    X(const wchar_t*, wkeTitleW, (wkeWebView view), (view))                                       \
    X(wkeBool, wkeCanGoBack, (wkeWebView view), (view))                                           \
    X(wkeBool, wkeGoBack, (wkeWebView view), (view))                                              \
    X(wkeBool, wkeCanGoForward, (wkeWebView view), (view))                                        \
    X(wkeBool, wkeGoForward, (wkeWebView view), (view))                                           \
    X(void, wkeSetCookieEnabled, (wkeWebView view, wkeBool enabled), (view, enabled))             \
    X(wkeBool, wkeCookieEnabled, (wkeWebView view), (view))                                       \
    X(void, wkeSetEditable, (wkeWebView view, wkeBool editable), (view, editable))                \
    X(void, wkeSetMediaVolume, (wkeWebView view, float volume), (view, volume))                   \
    X(float, wkeMediaVolume, (wkeWebView view), (view))                                           \
    X(void, wkeSetZoomFactor, (wkeWebView view, float factor), (view, factor))                    \
    X(float, wkeZoomFactor, (wkeWebView view), (view))                                            \
    X(jsValue, wkeRunJSW, (wkeWebView view, const wchar_t* script), (view, script))               \
    X(jsValue, wkeRunJS, (wkeWebView view, const char* script), (view, script))

#define WKE_DECLARE_ENTRY(result, name, params, args) WKE_API result WKE_CALL name params;
WKE_FOR_EACH_ENTRY(WKE_DECLARE_ENTRY)
#undef WKE_DECLARE_ENTRY

#ifdef __cplusplus
}
#endif
