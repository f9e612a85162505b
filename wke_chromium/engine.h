// View operations: the engine behind the wke entries. One browser (BrowserHost), one page per
// view (page_target), the load state of each (NavigationTracker). Entries run on the thread that
// called wkeInit, except IsDirty; none waits on the browser longer than limits::kUiCallMs but a
// whole-page paint and the first start.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "browser_host.h"
#include "ui_notifier.h"
#include "view.h"

namespace wkechr {

class Engine {
public:
    static Engine& Instance();

    void Init();
    void Shutdown();
    bool Initialized() const { return initialized_; }

    std::shared_ptr<View> Find(wkeWebView view);
    wkeWebView CreateView();
    void DestroyView(wkeWebView view);
    void SetHandler(View& view, const wkeClientHandler* handler);

    // Loading (engine_load.cpp).
    void Navigate(View& view, const std::string& url, bool keepClock = false);
    void LoadHtml(View& view, const std::wstring& html);
    bool IsLoadComplete(View& view);
    bool IsLoaded(View& view);
    bool IsLoadFailed(View& view);
    bool IsDocumentReady(View& view);
    void StopLoading(View& view);
    void Reload(View& view);
    bool CanGo(View& view, int step);
    bool Go(View& view, int step);

    // Size, pixels and scripts (engine_page.cpp).
    void Resize(View& view, int w, int h);
    int Width(View& view);
    int Height(View& view);
    void SetZoom(View& view, float factor);
    float Zoom(View& view);
    void SetDirty(View& view, bool dirty) { view.dirty = dirty; }
    bool IsDirty(View& view) { return view.dirty.load(); }
    void Paint(View& view, void* bits, int pitch);
    std::pair<int, int> ContentsSize(View& view);
    jsValue RunScript(View& view, const std::string& script);
    const wchar_t* Title(View& view);

    // Input (engine_input.cpp).
    bool KeyEvent(View& view, const char* type, unsigned key, unsigned flags, bool systemKey);
    bool CharEvent(View& view, unsigned charCode, unsigned flags, bool systemKey);
    bool MouseEvent(View& view, unsigned message, int x, int y, unsigned flags);
    bool ContextMenu(View& view, int x, int y, unsigned flags);
    bool Wheel(View& view, int x, int y, int delta, unsigned flags);
    void EditCommand(View& view, const char* command);
    void SetFocus(View& view, bool focused);
    wkeRect Caret(View& view);

    // Settings (engine_settings.cpp).
    void SetTransparent(View& view, bool transparent);
    void SetCookies(View& view, bool enabled);
    bool CookiesEnabled(View& view);
    void SetEditable(View& view, bool editable);
    void SetVolume(View& view, float volume);
    float Volume(View& view);

    // For tests: the browser's process id (0 when there is none).
    DWORD BrowserPid() { return host_.Pid(); }

private:
    Engine() = default;

    // The page of a view, when it can be used now: the session and the protocol session id.
    struct Page {
        std::shared_ptr<Session> session;
        std::string sessionId;
        explicit operator bool() const { return session != nullptr; }
    };
    Page PageOf(View& view);
    // Runs a script in the page within `deadline`; the answer's "result" object, or null.
    json Evaluate(View& view, const std::string& script, Deadline deadline, bool userGesture = false);
    // Sends the tracker's current request to the view's page (view.m not held).
    void SendNavigate(View& view, const Page& page, bool reload);
    // What the answer to a navigation request means for the tracker.
    Session::Callback NavigationAnswer(const View& view, uint64_t seq, bool namesLoader);
    void Navigate(View& view, const std::string& url, bool keepClock, bool plainReload);
    // Applies the browser's state to the view's load (a page in a browser that is gone is lost).
    NavigationTracker& Load(View& view);  // view.m held
    void UpdateSettings(View& view, const std::function<void(ViewSettings&)>& change);

    // On the host's thread (engine_restore.cpp).
    void Maintain(const std::shared_ptr<Session>& session, uint64_t generation);
    void Restore(View& view, const std::shared_ptr<Session>& session, uint64_t generation);

    // On the reader thread (engine_events.cpp).
    void OnEvent(Session* session, const std::string& method, const json& params, const std::string& sessionId);
    void OnTargetEvent(const std::string& method, const json& params);
    void OnViewEvent(View& view, Session* session, const std::string& method, const json& params);
    void PageLost(View& view);  // view.m held
    void RefreshTitle(View& view, Session* session);
    void Notify(View& view, bool title, const std::wstring& text);
    void Deliver(uintptr_t handle, bool title, std::wstring& text);

    std::atomic<bool> initialized_{false};
    bool everFailed_ = false;
    BrowserHost host_;
    UiNotifier notifier_;

    std::mutex registryMutex_;
    std::map<uintptr_t, std::shared_ptr<View>> views_;
    uintptr_t nextHandle_ = 0x10;
};

}  // namespace wkechr
