#include "engine.h"

#include <algorithm>
#include <cmath>

#include "capture.h"
#include "text.h"

namespace wkechr {

namespace {

constexpr UINT kNotifyMessage = WM_APP + 0x51;
constexpr wchar_t kNotifyClass[] = L"WkeChromiumNotifyWindow";
constexpr int kStartTimeoutMs = 30000;
constexpr DWORD kLoadLimitMs = 45000;       // a load still going after this counts as complete
constexpr DWORD kErrorPageGraceMs = 3000;   // a failed navigation's error page gets this long
constexpr DWORD kRestartBackoffMs = 30000;  // after a failed restart, no new attempt before this
constexpr int kLargeFrame = 8192;           // above this the screencast pauses
constexpr char kTitleBinding[] = "__wkeTitleChanged";
constexpr char kTitleWatcher[] =
    "(()=>{let last=null;const check=()=>{const t=document.title;if(t!==last){last=t;"
    "try{__wkeTitleChanged(t)}catch(e){}}};"
    "new MutationObserver(check).observe(document,{subtree:true,childList:true,characterData:true});"
    "document.addEventListener('DOMContentLoaded',check);})()";

struct Notification {
    uintptr_t handle;
    bool title;
    std::wstring text;
};

bool Elapsed(DWORD since, DWORD limit) { return GetTickCount() - since >= limit; }

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

std::string Str(const json& object, const char* key) {
    if (!object.is_object()) return {};
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

double Num(const json& object, const char* key, double fallback = 0) {
    if (!object.is_object()) return fallback;
    auto it = object.find(key);
    return it != object.end() && it->is_number() ? it->get<double>() : fallback;
}

int CdpModifiersFromFlags(unsigned flags) {
    int modifiers = 0;
    if (flags & WKE_CONTROL) modifiers |= 2;
    if (flags & WKE_SHIFT) modifiers |= 8;
    return modifiers;
}

int CdpModifiersFromKeyboard() {
    int modifiers = 0;
    if (GetKeyState(VK_MENU) & 0x8000) modifiers |= 1;
    if (GetKeyState(VK_CONTROL) & 0x8000) modifiers |= 2;
    if ((GetKeyState(VK_LWIN) | GetKeyState(VK_RWIN)) & 0x8000) modifiers |= 4;
    if (GetKeyState(VK_SHIFT) & 0x8000) modifiers |= 8;
    return modifiers;
}

struct KeyName {
    std::string key;
    std::string code;
};

KeyName KeyNameFor(unsigned vk, bool shift) {
    if (vk >= 'A' && vk <= 'Z') {
        char c = static_cast<char>(shift ? vk : vk - 'A' + 'a');
        return {std::string(1, c), std::string("Key") + static_cast<char>(vk)};
    }
    if (vk >= '0' && vk <= '9') return {std::string(1, static_cast<char>(vk)), std::string("Digit") + static_cast<char>(vk)};
    if (vk >= VK_F1 && vk <= VK_F24) {
        std::string name = "F" + std::to_string(vk - VK_F1 + 1);
        return {name, name};
    }
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) {
        char c = static_cast<char>('0' + vk - VK_NUMPAD0);
        return {std::string(1, c), std::string("Numpad") + c};
    }
    switch (vk) {
    case VK_RETURN: return {"Enter", "Enter"};
    case VK_TAB: return {"Tab", "Tab"};
    case VK_BACK: return {"Backspace", "Backspace"};
    case VK_ESCAPE: return {"Escape", "Escape"};
    case VK_SPACE: return {" ", "Space"};
    case VK_LEFT: return {"ArrowLeft", "ArrowLeft"};
    case VK_RIGHT: return {"ArrowRight", "ArrowRight"};
    case VK_UP: return {"ArrowUp", "ArrowUp"};
    case VK_DOWN: return {"ArrowDown", "ArrowDown"};
    case VK_DELETE: return {"Delete", "Delete"};
    case VK_INSERT: return {"Insert", "Insert"};
    case VK_HOME: return {"Home", "Home"};
    case VK_END: return {"End", "End"};
    case VK_PRIOR: return {"PageUp", "PageUp"};
    case VK_NEXT: return {"PageDown", "PageDown"};
    case VK_SHIFT: return {"Shift", "ShiftLeft"};
    case VK_CONTROL: return {"Control", "ControlLeft"};
    case VK_MENU: return {"Alt", "AltLeft"};
    case VK_CAPITAL: return {"CapsLock", "CapsLock"};
    case VK_LWIN: return {"Meta", "MetaLeft"};
    case VK_RWIN: return {"Meta", "MetaRight"};
    case VK_APPS: return {"ContextMenu", "ContextMenu"};
    default: return {"Unidentified", ""};
    }
}

}  // namespace

Engine& Engine::Instance() {
    // Never destroyed: at process exit a destructor would join the reader and start processes
    // under the loader lock; the browser's watcher (or job object) ends the browser instead.
    static Engine* engine = new Engine;
    return *engine;
}

// ---- lifetime -------------------------------------------------------------------------------

void Engine::Init() {
    if (initialized_) return;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Engine::NotifyProc;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kNotifyClass;
    RegisterClassExW(&windowClass);
    notifyWindow_ = CreateWindowExW(0, kNotifyClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
    initialized_ = true;

    std::wstring problem;
    everFailed_ = !StartBrowser(problem);
    if (everFailed_) {
        std::wstring text =
            L"网页引擎无法启动：没有找到可用的浏览器（Chromium、Google Chrome 或 Microsoft Edge），"
            L"或者浏览器无法启动。\n\n" + problem +
            L"\n\n请安装 Google Chrome 或 Microsoft Edge，或者把环境变量 " + std::wstring(kBrowserVariable) +
            L" 设为浏览器程序的完整路径（例如 C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe），"
            L"然后重新启动本程序。\n\n"
            L"The web engine could not start a Chromium-family browser (Chromium, Chrome or Edge). "
            L"Install Chrome or Edge, or set the environment variable " + std::wstring(kBrowserVariable) +
            L" to the full path of the browser's program, then start this program again.";
        MessageBoxW(nullptr, text.c_str(), L"网页引擎 / Web engine", MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
    }
}

void Engine::Shutdown() {
    if (!initialized_) return;
    std::map<uintptr_t, std::shared_ptr<View>> views;
    {
        std::lock_guard lock(registryMutex_);
        views.swap(views_);
    }
    views.clear();
    StopBrowser();
    if (notifyWindow_) {
        MSG message;
        while (PeekMessageW(&message, notifyWindow_, kNotifyMessage, kNotifyMessage, PM_REMOVE))
            delete reinterpret_cast<Notification*>(message.lParam);
        DestroyWindow(notifyWindow_);
        notifyWindow_ = nullptr;
    }
    UnregisterClassW(kNotifyClass, ThisModule());
    everFailed_ = false;
    lastFailedStart_ = 0;
    initialized_ = false;
}

bool Engine::StartBrowser(std::wstring& problem) {
    BrowserSearch search = FindBrowser();
    if (search.found.empty()) {
        problem = search.fromVariable ? L"环境变量 " + std::wstring(kBrowserVariable) + L" 指定的浏览器不存在 / " +
                                            std::wstring(kBrowserVariable) + L" names no existing file:\n"
                                      : std::wstring(L"查找过 / Looked for:\n");
        for (const auto& place : search.places) problem += L"  " + place + L"\n";
        return false;
    }
    browserPath_ = search.found;
    std::wstring error;
    if (!browser_.Start(search.found, kStartTimeoutMs, error)) {
        problem = L"浏览器无法启动 / The browser did not start:\n  " + search.found + L"\n  " + error;
        return false;
    }
    auto session = std::make_shared<Session>();
    Session* raw = session.get();
    session->SetEventHandler([this, raw](const std::string& method, const json& params, const std::string& sessionId) {
        OnEvent(raw, method, params, sessionId);
    });
    // A browser that has just written its port may still be busy starting (on a loaded machine,
    // for seconds): the handshake is tried again until the start's own time limit.
    bool open = false;
    for (DWORD started = GetTickCount(); !open && !Elapsed(started, kStartTimeoutMs);) {
        open = session->Open(browser_.Port(), browser_.EndpointPath(), 10000);
        if (!open) Sleep(200);
    }
    if (!open) {
        browser_.Cleanup();
        problem = L"无法连接浏览器 / Could not connect to the browser:\n  " + search.found;
        return false;
    }
    session->Call("Target.setDiscoverTargets", {{"discover", true}}, {}, 10000);
    Reply info = session->Call("SystemInfo.getProcessInfo", json::object(), {}, 10000);
    if (info.ok() && info.result.contains("processInfo") && info.result["processInfo"].is_array()) {
        for (const auto& process : info.result["processInfo"])
            if (Str(process, "type") == "browser") browser_.SetPid(static_cast<DWORD>(Num(process, "id")));
    }
    std::lock_guard lock(sessionMutex_);
    session_ = std::move(session);
    ++generation_;
    return true;
}

void Engine::StopBrowser() {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(sessionMutex_);
        session = session_;
    }
    if (session && session->Alive()) {
        session->Call("Browser.close", json::object(), {}, 5000);
        for (int i = 0; i < 100 && session->Alive(); ++i) Sleep(50);
    }
    if (session) session->Close();
    browser_.WaitForExit(5000);
    browser_.Cleanup();
    std::lock_guard lock(sessionMutex_);
    session_.reset();
}

bool Engine::EnsureBrowser(bool probe) {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(sessionMutex_);
        session = session_;
    }
    if (session && session->Alive()) {
        if (!probe || session->Call("Browser.getVersion", json::object(), {}, 5000).ok()) return true;
    }
    if (everFailed_) return false;
    if (lastFailedStart_ != 0 && !Elapsed(lastFailedStart_, kRestartBackoffMs)) return false;
    if (session) session->Close();
    browser_.Cleanup();
    {
        std::lock_guard lock(sessionMutex_);
        session_.reset();
    }
    std::wstring problem;
    if (!StartBrowser(problem)) {
        lastFailedStart_ = GetTickCount() | 1;
        return false;
    }
    lastFailedStart_ = 0;
    return true;
}

DWORD Engine::BrowserPid() { return browser_.Pid(); }

// ---- views ----------------------------------------------------------------------------------

std::shared_ptr<View> Engine::Find(wkeWebView view) {
    if (!view) return nullptr;
    std::lock_guard lock(registryMutex_);
    auto it = views_.find(reinterpret_cast<uintptr_t>(view));
    return it == views_.end() ? nullptr : it->second;
}

wkeWebView Engine::CreateView() {
    if (!initialized_ || everFailed_) return nullptr;
    auto view = std::make_shared<View>();
    auto session = Prepare(*view);
    if (!session) return nullptr;
    std::lock_guard lock(registryMutex_);
    view->handle = nextHandle_;
    nextHandle_ += 0x10;
    views_[view->handle] = view;
    return reinterpret_cast<wkeWebView>(view->handle);
}

void Engine::DestroyView(wkeWebView handle) {
    std::shared_ptr<View> view;
    {
        std::lock_guard lock(registryMutex_);
        auto it = views_.find(reinterpret_cast<uintptr_t>(handle));
        if (it == views_.end()) return;
        view = it->second;
        views_.erase(it);
    }
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(sessionMutex_);
        session = session_;
    }
    std::string targetId;
    {
        std::lock_guard lock(view->m);
        view->handler = nullptr;
        if (view->generation == generation_) targetId = view->targetId;
    }
    if (session && session->Alive() && !targetId.empty())
        session->Call("Target.closeTarget", {{"targetId", targetId}}, {}, 5000);
}

std::shared_ptr<Session> Engine::Prepare(View& view, bool probe) {
    if (!initialized_ || !EnsureBrowser(probe)) return nullptr;
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(sessionMutex_);
        session = session_;
    }
    if (!session) return nullptr;
    bool fresh;
    {
        std::lock_guard lock(view.m);
        fresh = view.broken || view.generation != generation_;
    }
    if (fresh && !MakeTarget(view, *session)) return nullptr;
    return session;
}

bool Engine::MakeTarget(View& view, Session& session) {
    std::string oldTarget;
    {
        std::lock_guard lock(view.m);
        if (view.generation == generation_) oldTarget = view.targetId;
    }
    if (!oldTarget.empty()) session.Send("Target.closeTarget", {{"targetId", oldTarget}}, {}, 5000, nullptr);

    Reply created = session.Call("Target.createTarget", {{"url", "about:blank"}, {"newWindow", true}}, {}, 15000);
    std::string targetId = Str(created.result, "targetId");
    if (!created.ok() || targetId.empty()) return false;
    Reply attached = session.Call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, {}, 15000);
    std::string sessionId = Str(attached.result, "sessionId");
    if (!attached.ok() || sessionId.empty()) {
        session.Send("Target.closeTarget", {{"targetId", targetId}}, {}, 5000, nullptr);
        return false;
    }
    {
        std::lock_guard lock(view.m);
        view.targetId = targetId;
        view.sessionId = sessionId;
        view.generation = generation_;
        view.broken = false;
        view.mainFrameId = targetId;
        view.currentLoader.clear();
        view.url = "about:blank";
        view.nav = View::Nav::Done;
        ++view.navSeq;
        view.loaded = true;
        view.failed = false;
        view.docReady = true;
        view.finishedLoaders.clear();
    }
    view.screencasting = false;
    view.editableScript.clear();
    view.volumeScript.clear();
    session.Call("Page.enable", json::object(), sessionId, 10000);
    session.Call("Page.setLifecycleEventsEnabled", {{"enabled", true}}, sessionId, 10000);
    session.Call("Inspector.enable", json::object(), sessionId, 10000);
    // Title changes made by the page's scripts are reported through a binding the page calls.
    session.Call("Runtime.enable", json::object(), sessionId, 10000);
    session.Call("Runtime.addBinding", {{"name", kTitleBinding}}, sessionId, 10000);
    session.Call("Page.addScriptToEvaluateOnNewDocument", {{"source", kTitleWatcher}}, sessionId, 10000);
    Reply tree = session.Call("Page.getFrameTree", json::object(), sessionId, 10000);
    if (tree.ok() && tree.result.contains("frameTree")) {
        const json& frame = tree.result["frameTree"]["frame"];
        std::lock_guard lock(view.m);
        if (!Str(frame, "id").empty()) view.mainFrameId = Str(frame, "id");
        view.currentLoader = Str(frame, "loaderId");
    }
    session.Call("Emulation.setFocusEmulationEnabled", {{"enabled", view.focused}}, sessionId, 10000);
    ApplyMetrics(view, session, sessionId);
    if (view.transparent) SetTransparent(view, true);
    if (!view.cookies) SetCookies(view, false);
    if (view.editable) SetEditable(view, true);
    if (view.volume != 1.0f) SetVolume(view, view.volume);
    UpdateScreencast(view, session, sessionId);
    view.dirty = true;
    return true;
}

// ---- events (reader thread) -------------------------------------------------------------------

void Engine::OnEvent(Session* session, const std::string& method, const json& params, const std::string& sessionId) {
    std::vector<std::shared_ptr<View>> views;
    {
        std::lock_guard lock(registryMutex_);
        for (auto& entry : views_) views.push_back(entry.second);
    }
    if (!sessionId.empty()) {
        for (auto& view : views) {
            bool match;
            {
                std::lock_guard lock(view->m);
                match = view->sessionId == sessionId;
            }
            if (match) {
                OnViewEvent(*view, session, method, params);
                return;
            }
        }
        return;
    }
    if (method == "Target.targetInfoChanged" || method == "Target.targetCrashed" ||
        method == "Target.targetDestroyed" || method == "Target.detachedFromTarget") {
        std::string targetId = params.contains("targetInfo") ? Str(params["targetInfo"], "targetId") : Str(params, "targetId");
        std::string detached = Str(params, "sessionId");
        for (auto& view : views) {
            bool match;
            {
                std::lock_guard lock(view->m);
                match = (!targetId.empty() && view->targetId == targetId) ||
                        (!detached.empty() && view->sessionId == detached);
                if (match && method != "Target.targetInfoChanged") {
                    view->broken = true;
                    if (view->nav != View::Nav::Done) {
                        view->failed = true;
                        Complete(*view, false);
                    }
                }
            }
            if (match) {
                if (method == "Target.targetInfoChanged") RefreshTitle(*view, session);
                view->dirty = true;
            }
        }
    }
}

void Engine::Complete(View& view, bool failed) {
    if (failed) view.failed = true;
    view.nav = View::Nav::Done;
    view.loaded = !view.failed;
    if (view.loaded) view.docReady = true;
    view.dirty = true;
}

void Engine::OnViewEvent(View& view, Session* session, const std::string& method, const json& params) {
    const std::string sessionId = view.SessionId();
    if (method == "Page.screencastFrame") {
        session->Send("Page.screencastFrameAck", {{"sessionId", params.value("sessionId", 0)}}, sessionId, 5000, nullptr);
        // A capture makes the compositor produce a frame too; only a frame that looks different is new.
        std::string data = Str(params, "data");
        std::lock_guard lock(view.m);
        if (data != view.lastFrame) {
            view.lastFrame.swap(data);
            view.dirty = true;
        }
        return;
    }
    if (method == "Runtime.bindingCalled") {
        if (Str(params, "name") != kTitleBinding) return;
        std::wstring title = FromUtf8(Str(params, "payload"));
        bool changed = false;
        {
            std::lock_guard lock(view.m);
            if (view.title != title) {
                view.title = title;
                changed = true;
            }
        }
        if (changed) Notify(view, true, title);
        return;
    }
    if (method == "Page.javascriptDialogOpening") {
        // A dialog would hold the page (and a batch) until someone answers it.
        session->Send("Page.handleJavaScriptDialog", {{"accept", true}}, sessionId, 5000, nullptr);
        return;
    }
    if (method == "Inspector.targetCrashed" || method == "Inspector.detached") {
        std::lock_guard lock(view.m);
        view.broken = true;
        if (view.nav != View::Nav::Done) Complete(view, true);
        return;
    }
    const std::string frameId = Str(params, "frameId");
    auto isMain = [&](const std::string& id) { return !id.empty() && (id == view.mainFrameId || id == view.targetId); };

    if (method == "Page.frameStartedLoading") {
        std::lock_guard lock(view.m);
        if (isMain(frameId) && view.nav == View::Nav::Done) {
            // A load the page started itself (a link, a script, a form).
            view.nav = View::Nav::Loading;
            ++view.navSeq;
            view.expectedLoader.clear();
            view.loaded = view.failed = view.docReady = false;
            view.loadStart = view.committedAt = GetTickCount();
        }
        view.dirty = true;
    } else if (method == "Page.frameNavigated") {
        const json& frame = params.contains("frame") ? params["frame"] : params;
        if (frame.contains("parentId")) return;
        std::wstring shown;
        {
            std::lock_guard lock(view.m);
            if (!Str(frame, "id").empty()) view.mainFrameId = Str(frame, "id");
            view.currentLoader = Str(frame, "loaderId");
            view.url = Str(frame, "url") + Str(frame, "urlFragment");
            bool errorPage = view.url.rfind("chrome-error:", 0) == 0;
            if (errorPage && view.nav != View::Nav::Done) view.failed = true;
            shown = FromUtf8(errorPage && !view.lastRequestedUrl.empty() ? view.lastRequestedUrl : view.url);
        }
        Notify(view, false, shown);
        RefreshTitle(view, session);
        view.dirty = true;
    } else if (method == "Page.navigatedWithinDocument") {
        std::wstring shown;
        {
            std::lock_guard lock(view.m);
            if (!isMain(frameId)) return;
            view.url = Str(params, "url");
            shown = FromUtf8(view.url);
        }
        Notify(view, false, shown);
        RefreshTitle(view, session);
    } else if (method == "Page.lifecycleEvent") {
        const std::string name = Str(params, "name");
        const std::string loaderId = Str(params, "loaderId");
        bool refresh = false;
        {
            std::lock_guard lock(view.m);
            if (!isMain(frameId)) return;
            bool ours = view.nav == View::Nav::Loading &&
                        (loaderId == view.currentLoader || (!view.expectedLoader.empty() && loaderId == view.expectedLoader));
            if (name == "DOMContentLoaded") {
                if (ours) view.docReady = true;
                refresh = true;
            } else if (name == "load") {
                if (view.finishedLoaders.size() > 32) view.finishedLoaders.clear();
                view.finishedLoaders.insert(loaderId);
                if (ours) Complete(view, false);
                refresh = true;
            }
        }
        if (refresh) {
            RefreshTitle(view, session);
            view.dirty = true;
        }
    } else if (method == "Page.frameStoppedLoading") {
        std::lock_guard lock(view.m);
        if (!isMain(frameId)) return;
        view.finishedLoaders.insert(view.currentLoader);
        if (view.nav == View::Nav::Loading) Complete(view, false);
    }
}

void Engine::RefreshTitle(View& view, Session* session) {
    std::string sessionId;
    uintptr_t handle;
    {
        std::lock_guard lock(view.m);
        sessionId = view.sessionId;
        handle = view.handle;
    }
    if (sessionId.empty() || !session) return;
    session->Send("Runtime.evaluate", {{"expression", "document.title"}, {"returnByValue", true}}, sessionId, 5000,
                  [this, handle](Reply reply) {
                      if (!reply.ok()) return;
                      const json& value = reply.result["result"];
                      if (!value.is_object() || !value.contains("value") || !value["value"].is_string()) return;
                      std::wstring title = FromUtf8(value["value"].get<std::string>());
                      auto view = Find(reinterpret_cast<wkeWebView>(handle));
                      if (!view) return;
                      bool changed = false;
                      {
                          std::lock_guard lock(view->m);
                          if (view->title != title) {
                              view->title = title;
                              changed = true;
                          }
                      }
                      if (changed) Notify(*view, true, title);
                  });
}

void Engine::Notify(View& view, bool title, const std::wstring& text) {
    uintptr_t handle;
    {
        std::lock_guard lock(view.m);
        if (!view.handler) return;
        handle = view.handle;
    }
    if (!notifyWindow_) return;
    auto* notification = new Notification{handle, title, text};
    if (!PostMessageW(notifyWindow_, kNotifyMessage, 0, reinterpret_cast<LPARAM>(notification))) delete notification;
}

LRESULT CALLBACK Engine::NotifyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kNotifyMessage) {
        Instance().DeliverNotification(lParam);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Engine::DeliverNotification(LPARAM lParam) {
    std::unique_ptr<Notification> notification(reinterpret_cast<Notification*>(lParam));
    auto view = Find(reinterpret_cast<wkeWebView>(notification->handle));
    if (!view) return;
    const wkeClientHandler* handler;
    {
        std::lock_guard lock(view->m);
        handler = view->handler;
    }
    if (!handler) return;
    wkeNotifyEntry entry = notification->title ? handler->onTitleChanged : handler->onURLChanged;
    if (!entry) return;
    wkeStringTag text{std::move(notification->text)};
    entry(const_cast<wkeClientHandler*>(handler), &text);
}

// ---- loading --------------------------------------------------------------------------------

void Engine::Navigate(View& view, const std::string& url, bool keepDeadline) {
    auto session = Prepare(view, true);
    uint64_t seq;
    std::string sessionId;
    {
        std::lock_guard lock(view.m);
        seq = ++view.navSeq;
        view.lastRequestedUrl = url;
        view.expectedLoader.clear();
        view.finishedLoaders.clear();
        view.loaded = view.failed = view.docReady = false;
        if (!keepDeadline) view.loadStart = GetTickCount();
        view.committedAt = GetTickCount();
        if (!session) {
            Complete(view, true);
            return;
        }
        view.nav = View::Nav::Navigating;
        sessionId = view.sessionId;
    }
    view.dirty = true;
    json params = {{"url", url}};
    if (keepDeadline) params["transitionType"] = "reload";
    uintptr_t handle = view.handle;
    session->Send("Page.navigate", std::move(params), sessionId, 30000, [this, handle, seq](Reply reply) {
        auto view = Find(reinterpret_cast<wkeWebView>(handle));
        if (!view) return;
        std::lock_guard lock(view->m);
        if (view->navSeq != seq || view->nav != View::Nav::Navigating) return;
        if (!reply.ok()) {
            Complete(*view, true);
            return;
        }
        if (!Str(reply.result, "errorText").empty()) view->failed = true;
        std::string loaderId = Str(reply.result, "loaderId");
        if (loaderId.empty()) {
            Complete(*view, false);  // same-document navigation, or nothing to wait for
            return;
        }
        view->expectedLoader = loaderId;
        view->nav = View::Nav::Loading;
        view->committedAt = GetTickCount();
        if (view->finishedLoaders.count(loaderId)) Complete(*view, false);
    });
}

void Engine::LoadHtml(View& view, const std::wstring& html) {
    std::string utf8 = ToUtf8(html);
    if (utf8.size() < (1u << 20)) {
        Navigate(view, "data:text/html;charset=utf-8;base64," + Base64Encode(utf8));
        return;
    }
    // Long texts go through a file in the profile: addresses have a length limit.
    static LONG counter = 0;
    std::wstring folder = browser_.ProfileFolder();
    if (folder.empty() && !Prepare(view)) return Navigate(view, "about:blank");
    folder = browser_.ProfileFolder();
    std::wstring path = folder + L"\\page-" + std::to_wstring(InterlockedIncrement(&counter)) + L".html";
    {
        ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr))
            return Navigate(view, "about:blank");
    }
    std::wstring side = BrowserSidePath(path);
    Navigate(view, FileUrlFromPath(side));
}

bool Engine::IsLoadComplete(View& view) {
    std::shared_ptr<Session> session;
    uint64_t generation;
    {
        std::lock_guard lock(sessionMutex_);
        session = session_;
        generation = generation_;
    }
    std::lock_guard lock(view.m);
    if (view.nav == View::Nav::Done) return true;
    if (!session || !session->Alive() || view.broken || view.generation != generation) {
        Complete(view, true);
        return true;
    }
    if (Elapsed(view.loadStart, kLoadLimitMs)) {
        Complete(view, !view.docReady);
        return true;
    }
    if (view.nav == View::Nav::Loading && view.failed && Elapsed(view.committedAt, kErrorPageGraceMs)) {
        Complete(view, true);
        return true;
    }
    return false;
}

void Engine::StopLoading(View& view) {
    auto session = Prepare(view);
    if (!session) return;
    const std::string sessionId = view.SessionId();
    session->Call("Page.stopLoading", json::object(), sessionId, 10000);
    std::lock_guard lock(view.m);
    if (view.nav != View::Nav::Done) Complete(view, !view.docReady);
}

void Engine::Reload(View& view) {
    std::string url;
    bool plainReload = false;
    {
        std::lock_guard lock(view.m);
        bool errorPage = view.url.rfind("chrome-error:", 0) == 0;
        // A finished page reloads as a browser would; a stuck or failed load is asked for again.
        plainReload = view.nav == View::Nav::Done && !view.failed && !errorPage && !view.url.empty() && !view.broken;
        url = !view.lastRequestedUrl.empty() && (!plainReload || view.url.empty()) ? view.lastRequestedUrl : view.url;
    }
    if (!plainReload) return Navigate(view, url.empty() ? "about:blank" : url, true);
    auto session = Prepare(view, true);
    if (!session) return Navigate(view, url, true);
    std::string sessionId;
    uint64_t seq;
    {
        std::lock_guard lock(view.m);
        seq = ++view.navSeq;
        view.nav = View::Nav::Loading;
        view.expectedLoader.clear();
        view.loaded = view.failed = view.docReady = false;
        view.committedAt = GetTickCount();
        sessionId = view.sessionId;
    }
    view.dirty = true;
    uintptr_t handle = view.handle;
    session->Send("Page.reload", json::object(), sessionId, 30000, [this, handle, seq](Reply reply) {
        if (reply.ok()) return;
        auto view = Find(reinterpret_cast<wkeWebView>(handle));
        if (!view) return;
        std::lock_guard lock(view->m);
        if (view->navSeq == seq && view->nav != View::Nav::Done) Complete(*view, true);
    });
}

// ---- size and pixels ------------------------------------------------------------------------

void Engine::ApplyMetrics(View& view, Session& session, const std::string& sessionId) {
    json params = {{"width", std::max(1L, std::lround(view.width / view.zoom))},
                   {"height", std::max(1L, std::lround(view.height / view.zoom))},
                   {"deviceScaleFactor", view.zoom},
                   {"mobile", false}};
    session.Call("Emulation.setDeviceMetricsOverride", std::move(params), sessionId, 30000);
}

void Engine::UpdateScreencast(View& view, Session& session, const std::string& sessionId) {
    // The screencast only tells that new frames exist; a page-sized viewport (a capture) would
    // make every frame expensive, so it pauses then.
    bool large = view.width > kLargeFrame || view.height > kLargeFrame;
    if (large && view.screencasting) {
        session.Call("Page.stopScreencast", json::object(), sessionId, 10000);
        view.screencasting = false;
    } else if (!large && !view.screencasting) {
        session.Call("Page.startScreencast",
                     {{"format", "jpeg"}, {"quality", 30}, {"maxWidth", 256}, {"maxHeight", 256}, {"everyNthFrame", 1}},
                     sessionId, 10000);
        view.screencasting = true;
    }
}

void Engine::Resize(View& view, int w, int h) {
    w = std::clamp(w, 1, 10'000'000);
    h = std::clamp(h, 1, 10'000'000);
    if (w == view.width && h == view.height) return;
    view.width = w;
    view.height = h;
    view.dirty = true;
    auto session = Prepare(view);
    if (!session) return;
    const std::string sessionId = view.SessionId();
    if (view.width > kLargeFrame || view.height > kLargeFrame) UpdateScreencast(view, *session, sessionId);
    ApplyMetrics(view, *session, sessionId);
    UpdateScreencast(view, *session, sessionId);
}

void Engine::SetZoom(View& view, float factor) {
    if (!(factor >= 0.05f && factor <= 20.0f)) return;
    if (view.zoom == factor) return;
    view.zoom = factor;
    view.dirty = true;
    auto session = Prepare(view);
    if (!session) return;
    const std::string sessionId = view.SessionId();
    ApplyMetrics(view, *session, sessionId);
}

void Engine::Paint(View& view, void* bits, int pitch) {
    if (!bits) return;
    const int width = view.width, height = view.height;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    const size_t stride = pitch > 0 && static_cast<size_t>(pitch) >= rowBytes ? static_cast<size_t>(pitch) : rowBytes;
    auto* dest = static_cast<uint8_t*>(bits);
    view.dirty = false;
    auto session = Prepare(view);
    if (!session) {
        FillWhite(dest, width, height, stride);
        return;
    }
    const std::string sessionId = view.SessionId();
    CaptureRequest request;
    request.width = width;
    request.height = height;
    request.zoom = view.zoom;
    request.dest = dest;
    request.pitch = stride;
    Reply metrics = session->Call("Page.getLayoutMetrics", json::object(), sessionId, 10000);
    if (metrics.ok() && metrics.result.contains("cssVisualViewport")) {
        request.scrollX = Num(metrics.result["cssVisualViewport"], "pageX");
        request.scrollY = Num(metrics.result["cssVisualViewport"], "pageY");
    }
    CaptureFrame(*session, sessionId, request);
}

std::pair<int, int> Engine::ContentsSize(View& view) {
    json value = Evaluate(view,
                          "(()=>{const d=document.documentElement,b=document.body;"
                          "return [Math.max(d?d.scrollWidth:0,b?b.scrollWidth:0),"
                          "Math.max(d?d.scrollHeight:0,b?b.scrollHeight:0)]})()",
                          10000);
    if (!value.is_object() || !value.contains("value") || !value["value"].is_array() || value["value"].size() != 2)
        return {0, 0};
    auto scaled = [&](const json& v) {
        double d = v.is_number() ? v.get<double>() * view.zoom : 0;
        return d > 0 && d < 1e9 ? static_cast<int>(std::lround(d)) : 0;
    };
    return {scaled(value["value"][0]), scaled(value["value"][1])};
}

// ---- scripts --------------------------------------------------------------------------------

json Engine::Evaluate(View& view, const std::string& script, int timeoutMs, bool userGesture) {
    auto session = Prepare(view);
    if (!session) return nullptr;
    const std::string sessionId = view.SessionId();
    Reply reply = session->Call("Runtime.evaluate",
                                {{"expression", script}, {"returnByValue", !userGesture}, {"userGesture", userGesture},
                                 {"awaitPromise", false}},
                                sessionId, timeoutMs);
    if (!reply.ok()) {
        if (userGesture && reply.status == Status::TimedOut) {
            // A script that does not come back holds its page: the view gets a fresh one next time.
            std::lock_guard lock(view.m);
            view.broken = true;
        }
        return nullptr;
    }
    return reply.result.contains("result") ? reply.result["result"] : json(nullptr);
}

jsValue Engine::RunScript(View& view, const std::string& script) {
    json value = Evaluate(view, script, Session::kDefaultTimeoutMs, true);
    view.dirty = true;
    if (!value.is_object() || !value.contains("value")) return 0;
    const json& v = value["value"];
    if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
    if (v.is_number()) {
        double d = v.get<double>();
        return std::isfinite(d) && std::fabs(d) < 9.0e18 ? static_cast<jsValue>(std::llround(d)) : 0;
    }
    return 0;
}

const wchar_t* Engine::Title(View& view) {
    json value = Evaluate(view, "document.title", 5000);
    std::lock_guard lock(view.m);
    if (value.is_object() && value.contains("value") && value["value"].is_string())
        view.title = FromUtf8(value["value"].get<std::string>());
    view.titleOut = view.title;
    return view.titleOut.c_str();
}

// ---- input ----------------------------------------------------------------------------------

bool Engine::KeyEvent(View& view, const char* type, unsigned key, unsigned flags, bool systemKey) {
    auto session = Prepare(view);
    if (!session) return false;
    const std::string sessionId = view.SessionId();
    int modifiers = CdpModifiersFromKeyboard();
    KeyName name = KeyNameFor(key & 0xFF, (modifiers & 8) != 0);
    json params = {{"type", type},
                   {"windowsVirtualKeyCode", key & 0xFF},
                   {"nativeVirtualKeyCode", key & 0xFF},
                   {"key", name.key},
                   {"code", name.code},
                   {"modifiers", modifiers},
                   {"autoRepeat", (flags & WKE_REPEAT) != 0},
                   {"isSystemKey", systemKey}};
    session->Send("Input.dispatchKeyEvent", std::move(params), sessionId, 10000, nullptr);
    return true;
}

bool Engine::CharEvent(View& view, unsigned charCode, unsigned flags, bool systemKey) {
    (void)flags;
    if (charCode >= 0xD800 && charCode <= 0xDBFF) {
        view.pendingHighSurrogate = static_cast<wchar_t>(charCode);
        return true;
    }
    std::wstring text;
    if (charCode >= 0xDC00 && charCode <= 0xDFFF) {
        if (!view.pendingHighSurrogate) return false;
        text += view.pendingHighSurrogate;
    }
    view.pendingHighSurrogate = 0;
    // Control characters other than Enter are already handled by their key-down.
    if (charCode < 0x20 && charCode != '\r') return false;
    if (charCode > 0x10FFFF) return false;
    if (charCode >= 0x10000) {
        text += static_cast<wchar_t>(0xD800 + ((charCode - 0x10000) >> 10));
        text += static_cast<wchar_t>(0xDC00 + ((charCode - 0x10000) & 0x3FF));
    } else {
        text += static_cast<wchar_t>(charCode);
    }
    auto session = Prepare(view);
    if (!session) return false;
    const std::string sessionId = view.SessionId();
    std::string utf8 = ToUtf8(text);
    json params = {{"type", "char"},         {"text", utf8},          {"unmodifiedText", utf8},
                   {"modifiers", CdpModifiersFromKeyboard()}, {"isSystemKey", systemKey}};
    session->Send("Input.dispatchKeyEvent", std::move(params), sessionId, 10000, nullptr);
    view.dirty = true;
    return true;
}

bool Engine::MouseEvent(View& view, unsigned message, int x, int y, unsigned flags) {
    const char* type;
    const char* button = "none";
    switch (message) {
    case WM_MOUSEMOVE: type = "mouseMoved"; break;
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: type = "mousePressed"; button = "left"; break;
    case WM_LBUTTONUP: type = "mouseReleased"; button = "left"; break;
    case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: type = "mousePressed"; button = "right"; break;
    case WM_RBUTTONUP: type = "mouseReleased"; button = "right"; break;
    case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: type = "mousePressed"; button = "middle"; break;
    case WM_MBUTTONUP: type = "mouseReleased"; button = "middle"; break;
    default: return false;
    }
    int buttons = ((flags & WKE_LBUTTON) ? 1 : 0) | ((flags & WKE_RBUTTON) ? 2 : 0) | ((flags & WKE_MBUTTON) ? 4 : 0);
    if (message == WM_MOUSEMOVE) {
        button = (flags & WKE_LBUTTON) ? "left" : (flags & WKE_RBUTTON) ? "right" : (flags & WKE_MBUTTON) ? "middle" : "none";
    }
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN) view.clickCount = 1;
    if (message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDBLCLK || message == WM_MBUTTONDBLCLK) view.clickCount = 2;
    auto session = Prepare(view);
    if (!session) return false;
    const std::string sessionId = view.SessionId();
    json params = {{"type", type},
                   {"x", x / view.zoom},
                   {"y", y / view.zoom},
                   {"button", button},
                   {"buttons", buttons},
                   {"clickCount", message == WM_MOUSEMOVE ? 0 : std::max(1, view.clickCount)},
                   {"modifiers", CdpModifiersFromFlags(flags)}};
    session->Send("Input.dispatchMouseEvent", std::move(params), sessionId, 10000, nullptr);
    view.dirty = true;
    return true;
}

bool Engine::ContextMenu(View& view, int x, int y, unsigned flags) {
    auto session = Prepare(view);
    if (!session) return false;
    const std::string sessionId = view.SessionId();
    for (const char* type : {"mousePressed", "mouseReleased"}) {
        json params = {{"type", type},          {"x", x / view.zoom},  {"y", y / view.zoom},
                       {"button", "right"},      {"buttons", std::string(type) == "mousePressed" ? 2 : 0},
                       {"clickCount", 1},        {"modifiers", CdpModifiersFromFlags(flags)}};
        session->Send("Input.dispatchMouseEvent", std::move(params), sessionId, 10000, nullptr);
    }
    return true;
}

bool Engine::Wheel(View& view, int x, int y, int delta, unsigned flags) {
    auto session = Prepare(view);
    if (!session) return false;
    const std::string sessionId = view.SessionId();
    json params = {{"type", "mouseWheel"}, {"x", x / view.zoom},     {"y", y / view.zoom}, {"deltaX", 0},
                   {"deltaY", -delta},     {"modifiers", CdpModifiersFromFlags(flags)}};
    session->Send("Input.dispatchMouseEvent", std::move(params), sessionId, 10000, nullptr);
    view.dirty = true;
    return true;
}

void Engine::EditCommand(View& view, const char* command) {
    auto session = Prepare(view);
    if (!session) return;
    const std::string sessionId = view.SessionId();
    session->Send("Input.dispatchKeyEvent", {{"type", "rawKeyDown"}, {"commands", json::array({command})}}, sessionId,
                  10000, nullptr);
    session->Send("Input.dispatchKeyEvent", {{"type", "keyUp"}}, sessionId, 10000, nullptr);
    view.dirty = true;
}

void Engine::SetFocus(View& view, bool focused) {
    view.focused = focused;
    auto session = Prepare(view);
    if (!session) return;
    const std::string sessionId = view.SessionId();
    session->Send("Emulation.setFocusEmulationEnabled", {{"enabled", focused}}, sessionId, 10000, nullptr);
}

wkeRect Engine::Caret(View& view) {
    json value = Evaluate(view,
                          "(()=>{let r=null;const s=getSelection();"
                          "if(s&&s.rangeCount){const g=s.getRangeAt(0).cloneRange();g.collapse(false);"
                          "const l=g.getClientRects();r=l.length?l[l.length-1]:g.getBoundingClientRect();}"
                          "const a=document.activeElement;"
                          "if((!r||(!r.x&&!r.y&&!r.height))&&a&&a!==document.body&&a!==document.documentElement){"
                          "const b=a.getBoundingClientRect();r={x:b.x+2,y:b.y+2,width:1,height:Math.max(0,b.height-4)};}"
                          "return r?[r.x,r.y,Math.max(1,r.width),r.height]:[0,0,0,0];})()",
                          5000);
    wkeRect rect{0, 0, 0, 0};
    if (value.is_object() && value.contains("value") && value["value"].is_array() && value["value"].size() == 4) {
        auto at = [&](size_t i) {
            const json& v = value["value"][i];
            double d = v.is_number() ? v.get<double>() * view.zoom : 0;
            return std::fabs(d) < 1e9 ? static_cast<int>(std::lround(d)) : 0;
        };
        rect = {at(0), at(1), at(2), at(3)};
    }
    return rect;
}

// ---- history and settings -------------------------------------------------------------------

bool Engine::CanGo(View& view, int step) {
    auto session = Prepare(view);
    if (!session) return false;
    const std::string sessionId = view.SessionId();
    Reply history = session->Call("Page.getNavigationHistory", json::object(), sessionId, 10000);
    if (!history.ok() || !history.result.contains("entries")) return false;
    int index = static_cast<int>(Num(history.result, "currentIndex", -1)) + step;
    return index >= 0 && index < static_cast<int>(history.result["entries"].size());
}

bool Engine::Go(View& view, int step) {
    auto session = Prepare(view);
    if (!session) return false;
    const std::string sessionId = view.SessionId();
    Reply history = session->Call("Page.getNavigationHistory", json::object(), sessionId, 10000);
    if (!history.ok() || !history.result.contains("entries")) return false;
    int index = static_cast<int>(Num(history.result, "currentIndex", -1)) + step;
    const json& entries = history.result["entries"];
    if (index < 0 || index >= static_cast<int>(entries.size())) return false;
    uint64_t seq;
    {
        std::lock_guard lock(view.m);
        seq = ++view.navSeq;
        view.nav = View::Nav::Loading;
        view.expectedLoader.clear();
        view.loaded = view.failed = view.docReady = false;
        view.loadStart = view.committedAt = GetTickCount();
        view.lastRequestedUrl = Str(entries[index], "url");
    }
    view.dirty = true;
    uintptr_t handle = view.handle;
    session->Send("Page.navigateToHistoryEntry", {{"entryId", entries[index].value("id", 0)}}, sessionId, 30000,
                  [this, handle, seq](Reply reply) {
                      if (reply.ok()) return;
                      auto view = Find(reinterpret_cast<wkeWebView>(handle));
                      if (!view) return;
                      std::lock_guard lock(view->m);
                      if (view->navSeq == seq && view->nav != View::Nav::Done) Complete(*view, true);
                  });
    return true;
}

void Engine::SetTransparent(View& view, bool transparent) {
    view.transparent = transparent;
    auto session = Prepare(view);
    if (!session) return;
    const std::string sessionId = view.SessionId();
    json params = json::object();
    if (transparent) params["color"] = {{"r", 0}, {"g", 0}, {"b", 0}, {"a", 0}};
    session->Call("Emulation.setDefaultBackgroundColorOverride", std::move(params), sessionId, 10000);
    view.dirty = true;
}

void Engine::SetCookies(View& view, bool enabled) {
    view.cookies = enabled;
    auto session = Prepare(view);
    if (!session) return;
    const std::string sessionId = view.SessionId();
    session->Call("Emulation.setDocumentCookieDisabled", {{"disabled", !enabled}}, sessionId, 10000);
}

void Engine::SetEditable(View& view, bool editable) {
    view.editable = editable;
    auto session = Prepare(view);
    if (!session) return;
    const std::string sessionId = view.SessionId();
    const char* script = editable ? "document.designMode='on'" : "document.designMode='off'";
    if (!view.editableScript.empty()) {
        session->Call("Page.removeScriptToEvaluateOnNewDocument", {{"identifier", view.editableScript}}, sessionId, 10000);
        view.editableScript.clear();
    }
    if (editable) {
        Reply added = session->Call("Page.addScriptToEvaluateOnNewDocument", {{"source", script}}, sessionId, 10000);
        view.editableScript = Str(added.result, "identifier");
    }
    session->Call("Runtime.evaluate", {{"expression", script}}, sessionId, 10000);
}

void Engine::SetVolume(View& view, float volume) {
    if (!(volume >= 0.0f)) return;
    view.volume = volume;
    auto session = Prepare(view);
    if (!session) return;
    const std::string sessionId = view.SessionId();
    std::string level = std::to_string(std::min(1.0f, volume));
    std::string apply = "document.querySelectorAll('audio,video').forEach(m=>{try{m.volume=" + level + "}catch(e){}})";
    std::string watch = "document.addEventListener('play',e=>{try{e.target.volume=" + level + "}catch(x){}},true)";
    if (!view.volumeScript.empty()) {
        session->Call("Page.removeScriptToEvaluateOnNewDocument", {{"identifier", view.volumeScript}}, sessionId, 10000);
        view.volumeScript.clear();
    }
    Reply added = session->Call("Page.addScriptToEvaluateOnNewDocument", {{"source", watch}}, sessionId, 10000);
    view.volumeScript = Str(added.result, "identifier");
    session->Call("Runtime.evaluate", {{"expression", apply + ";" + watch}}, sessionId, 10000);
}

}  // namespace wkechr
