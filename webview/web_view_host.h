// WebViewHost binds one engine view to a window and offers every page operation.
#pragma once

#include <windows.h>

#include <atomic>

#include "base/scoped_win.h"
#include "base/text.h"
#include "engine/wke.h"

class ViewRenderer;
class WebViewHost;

// The record handed to the engine: it reads the two entries; the owner is ours. Each field is one
// address wide.
struct ClientHandler {
    void* titleChangedEntry;
    void* urlChangedEntry;
    WebViewHost* owner;
};

// A user routine that receives the new title or address as a GBK text, valid during the call.
using PageEventHandler = void(WINAPI*)(const char* text);

// The private message the render pump sends when the engine has new pixels.
constexpr UINT WM_VIEW_REPAINT = WM_USER + 1;

class WebViewHost {
public:
    WebViewHost();

    // The method table, in its fixed order.
    virtual void Finalize();
    virtual WebViewHost* Clone();
    virtual LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    virtual void RenderLoop();
    virtual void HandleTitleChanged(wkeString title);
    virtual void HandleUrlChanged(wkeString url);
    virtual void InstallClientHandler();
    virtual bool Create(HWND window, int kind = 1, bool transparent = false);
    virtual void Destroy();
    virtual HWND GetWindowHandle();
    virtual void LoadUrl(const Text& url);
    virtual void LoadUrlW(const ByteBuffer& url);
    virtual void LoadHtml(const Text& html);
    virtual void LoadHtmlW(const ByteBuffer& html);
    virtual void LoadFile(const Text& path);
    virtual void LoadFileW(const ByteBuffer& path);
    virtual int IsLoaded();
    virtual int IsLoadFailed();
    virtual int IsLoadComplete();
    virtual int IsDocumentReady();
    virtual void StopLoading();
    virtual void Reload();
    virtual Text GetTitle();
    virtual ByteBuffer GetTitleW();
    virtual int Width();
    virtual int Height();
    virtual int ContentsWidth();
    virtual int ContentsHeight();
    virtual int CanGoBack();
    virtual int GoBack();
    virtual int CanGoForward();
    virtual int GoForward();
    virtual void SelectAll();
    virtual void Copy();
    virtual void Cut();
    virtual void Paste();
    virtual void Delete();
    virtual void SetCookieEnabled(int enabled);
    virtual int CookieEnabled();
    virtual void SetMediaVolume(float volume);
    virtual float MediaVolume();
    virtual void SetZoomFactor(float factor);
    virtual float ZoomFactor();
    virtual void SetEditable(int editable);
    virtual jsValue RunJs(const Text& script);
    virtual jsValue RunJsW(const ByteBuffer& script);
    virtual ByteBuffer CapturePage();
    virtual void SetTitleChangedHandler(PageEventHandler handler);
    virtual void SetUrlChangedHandler(PageEventHandler handler);

    // Storage is freed by the owner after Finalize; destruction itself releases nothing.
    virtual ~WebViewHost() = default;

    WebViewHost(const WebViewHost&) = delete;
    WebViewHost& operator=(const WebViewHost&) = delete;

    // Fields. view and hwnd are read by the render pump thread as well.
    std::atomic<wkeWebView> view{nullptr};
    WNDPROC prevWndProc = nullptr;
    std::atomic<HWND> hwnd{nullptr};
    ViewRenderer* renderer = nullptr;
    ClientHandler* clientHandler = nullptr;
    PageEventHandler titleChangedHandler = nullptr;
    PageEventHandler urlChangedHandler = nullptr;

    // The running render pump, so that Destroy can wait for it before the engine view goes.
    ScopedHandle renderPump;
};

extern WebViewHost* g_webView;
extern HHOOK g_tabKeyHook;

void StartWebEngine();
void StopWebEngine();
bool InstallTabKeyHook();
LRESULT CALLBACK TabKeyHookProc(int code, WPARAM wParam, LPARAM lParam);
void ExitCleanup();

// True when msg is the Tab key-down the hook has already translated and dispatched; the
// program's message loops then skip it so that one key press is delivered once.
bool TakeTabKeyDispatchedByHook(const MSG& msg);
