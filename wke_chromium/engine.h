// View operations: the engine behind the wke entries. One browser, one DevTools connection,
// one page target per view. Entries run on the thread that called wkeInit, except IsDirty.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "../engine/wke.h"
#include "browser_process.h"
#include "session.h"

struct wkeStringTag {
    std::wstring text;
};

namespace wkechr {

struct View {
    uintptr_t handle = 0;

    // Guarded by `m`: written by the reader thread's events as well as by the entries.
    std::mutex m;
    std::string targetId;
    std::string sessionId;
    uint64_t generation = 0;  // the browser it lives in
    bool broken = true;       // no usable target: made (again) at the next operation
    std::string mainFrameId;
    std::string currentLoader;
    std::string url;
    std::wstring title;
    const wkeClientHandler* handler = nullptr;

    enum class Nav { Done, Navigating, Loading };
    Nav nav = Nav::Done;
    uint64_t navSeq = 0;
    std::string expectedLoader;
    bool loaded = true;
    bool failed = false;
    bool docReady = true;
    DWORD loadStart = 0;
    DWORD committedAt = 0;
    std::string lastRequestedUrl;
    std::set<std::string> finishedLoaders;  // loads that ended before their navigate answered
    std::string lastFrame;                  // the latest screencast frame, to tell new pixels from repeats

    // Only the entries' thread touches these.
    int width = 800;
    int height = 600;
    double zoom = 1.0;
    bool transparent = false;
    bool cookies = true;
    bool editable = false;
    float volume = 1.0f;
    bool focused = true;
    bool screencasting = false;
    std::string editableScript;
    std::string volumeScript;
    std::wstring titleOut;
    wchar_t pendingHighSurrogate = 0;
    int clickCount = 0;

    std::atomic<bool> dirty{true};

    std::string SessionId() {
        std::lock_guard lock(m);
        return sessionId;
    }
};

class Engine {
public:
    static Engine& Instance();

    void Init();
    void Shutdown();
    bool Initialized() const { return initialized_; }

    std::shared_ptr<View> Find(wkeWebView view);
    wkeWebView CreateView();
    void DestroyView(wkeWebView view);

    // An operation's session and the view's protocol session id; null when the browser cannot be had.
    std::shared_ptr<Session> Prepare(View& view, bool probe = false);

    void Navigate(View& view, const std::string& url, bool keepDeadline = false);
    void LoadHtml(View& view, const std::wstring& html);
    bool IsLoadComplete(View& view);
    void StopLoading(View& view);
    void Reload(View& view);

    void Resize(View& view, int w, int h);
    void ApplyMetrics(View& view, Session& session, const std::string& sessionId);
    void SetZoom(View& view, float factor);
    void Paint(View& view, void* bits, int pitch);
    std::pair<int, int> ContentsSize(View& view);

    // Runs a script in the page; the answer's "result" object, or null.
    json Evaluate(View& view, const std::string& script, int timeoutMs = Session::kDefaultTimeoutMs,
                  bool userGesture = false);
    jsValue RunScript(View& view, const std::string& script);
    const wchar_t* Title(View& view);

    bool KeyEvent(View& view, const char* type, unsigned key, unsigned flags, bool systemKey);
    bool CharEvent(View& view, unsigned charCode, unsigned flags, bool systemKey);
    bool MouseEvent(View& view, unsigned message, int x, int y, unsigned flags);
    bool ContextMenu(View& view, int x, int y, unsigned flags);
    bool Wheel(View& view, int x, int y, int delta, unsigned flags);
    void EditCommand(View& view, const char* command);
    void SetFocus(View& view, bool focused);
    wkeRect Caret(View& view);

    bool CanGo(View& view, int step);
    bool Go(View& view, int step);
    void SetTransparent(View& view, bool transparent);
    void SetCookies(View& view, bool enabled);
    void SetEditable(View& view, bool editable);
    void SetVolume(View& view, float volume);

    // For tests: the browser's process id (0 when there is none).
    DWORD BrowserPid();

private:
    Engine() = default;

    bool StartBrowser(std::wstring& problem);
    void StopBrowser();
    bool EnsureBrowser(bool probe);
    bool MakeTarget(View& view, Session& session);
    void OnEvent(Session* session, const std::string& method, const json& params, const std::string& sessionId);
    void OnViewEvent(View& view, Session* session, const std::string& method, const json& params);
    void Complete(View& view, bool failed);  // view.m held
    void RefreshTitle(View& view, Session* session);
    void Notify(View& view, bool title, const std::wstring& text);
    void UpdateScreencast(View& view, Session& session, const std::string& sessionId);
    static LRESULT CALLBACK NotifyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void DeliverNotification(LPARAM lParam);

    std::atomic<bool> initialized_{false};
    HWND notifyWindow_ = nullptr;
    std::wstring browserPath_;
    BrowserProcess browser_;
    std::shared_ptr<Session> session_;  // replaced on the entries' thread only
    std::mutex sessionMutex_;           // guards session_ for BrowserPid and the reader's look-ups
    uint64_t generation_ = 0;
    DWORD lastFailedStart_ = 0;
    bool everFailed_ = false;

    std::mutex registryMutex_;
    std::map<uintptr_t, std::shared_ptr<View>> views_;
    uintptr_t nextHandle_ = 0x10;
};

}  // namespace wkechr
