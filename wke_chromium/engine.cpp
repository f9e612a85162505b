#include "engine.h"

#include "browser_endpoint.h"
#include "engine_limits.h"
#include "module_life.h"

namespace wkechr {

Engine& Engine::Instance() {
    // Never destroyed: at process exit a destructor would join the reader and start processes
    // under the loader lock; the browser's watcher (or job object) ends the browser instead.
    static Engine* engine = new Engine;
    return *engine;
}

void Engine::Init() {
    if (initialized_) return;
    KeepModuleLoaded();
    notifier_.Create([this](uintptr_t handle, bool title, std::wstring& text) { Deliver(handle, title, text); });
    initialized_ = true;

    std::wstring problem;
    everFailed_ = !host_.Start(
        Deadline::In(limits::kFirstStartMs),
        [this](Session* session, const std::string& method, const json& params, const std::string& sessionId) {
            OnEvent(session, method, params, sessionId);
        },
        [this](const std::shared_ptr<Session>& session, uint64_t generation) { Maintain(session, generation); },
        problem);
    if (everFailed_ && host_.Remote()) {
        std::wstring text =
            L"网页引擎无法连接环境变量 " + std::wstring(kBrowserUrlVariable) + L" 指定的浏览器。\n\n" + problem +
            L"\n\n请确认该浏览器正在运行、地址可以访问，或者删除这个环境变量，然后重新启动本程序。\n\n"
            L"The web engine could not reach the browser that " + std::wstring(kBrowserUrlVariable) +
            L" names. Check that it runs and can be reached, or remove the variable, then start this program again.";
        MessageBoxW(nullptr, text.c_str(), L"网页引擎 / Web engine", MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
    } else if (everFailed_) {
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
    if (host_.Remote()) {
        // A borrowed browser outlives us: our pages must not (a browser context takes them all
        // with it, but not every endpoint gives one).
        BrowserHost::Current current = host_.Get();
        for (auto& entry : views) {
            std::lock_guard lock(entry.second->m);
            if (current.Usable() && entry.second->ready && entry.second->generation == current.generation)
                CloseTarget(*current.session, entry.second->target.targetId);
        }
    }
    views.clear();
    host_.Stop();
    notifier_.Destroy();
    everFailed_ = false;
    initialized_ = false;
}

std::shared_ptr<View> Engine::Find(wkeWebView view) {
    if (!view) return nullptr;
    std::lock_guard lock(registryMutex_);
    auto it = views_.find(reinterpret_cast<uintptr_t>(view));
    return it == views_.end() ? nullptr : it->second;
}

wkeWebView Engine::CreateView() {
    if (!initialized_ || everFailed_) return nullptr;
    auto view = std::make_shared<View>();
    {
        std::lock_guard lock(registryMutex_);
        view->handle = nextHandle_;
        nextHandle_ += 0x10;
        views_[view->handle] = view;
    }
    // The page is made on the host's thread; a short wait lets the first calls find it ready.
    host_.Wake();
    for (Deadline wait = Deadline::In(limits::kUiReplyMs); !wait.Passed(); Sleep(10)) {
        std::lock_guard lock(view->m);
        if (view->ready) break;
    }
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
    BrowserHost::Current current = host_.Get();
    std::string targetId;
    {
        std::lock_guard lock(view->m);
        view->handler = nullptr;
        if (view->generation == current.generation) targetId = view->target.targetId;
    }
    if (current.Usable()) CloseTarget(*current.session, targetId);
}

void Engine::SetHandler(View& view, const wkeClientHandler* handler) {
    std::lock_guard lock(view.m);
    view.handler = handler;
}

Engine::Page Engine::PageOf(View& view) {
    if (!initialized_) return {};
    BrowserHost::Current current = host_.Get();
    std::lock_guard lock(view.m);
    if (!view.ready || view.generation != current.generation || !current.Usable()) return {};
    return {current.session, view.target.sessionId};
}

json Engine::Evaluate(View& view, const std::string& script, Deadline deadline, bool userGesture) {
    Page page = PageOf(view);
    if (!page) return nullptr;
    Reply reply = page.session->Call("Runtime.evaluate",
                                     {{"expression", script}, {"returnByValue", !userGesture},
                                      {"userGesture", userGesture}, {"awaitPromise", false}},
                                     page.sessionId, deadline);
    if (!reply.ok()) return nullptr;
    return reply.result.contains("result") ? reply.result["result"] : json(nullptr);
}

void Engine::UpdateSettings(View& view, const std::function<void(ViewSettings&)>& change) {
    std::lock_guard lock(view.m);
    change(view.settings);
    ++view.settingsVersion;
}

void Engine::Notify(View& view, bool title, const std::wstring& text) {
    uintptr_t handle;
    {
        std::lock_guard lock(view.m);
        if (!view.handler) return;
        handle = view.handle;
    }
    notifier_.Post(handle, title, text);
}

void Engine::Deliver(uintptr_t handle, bool title, std::wstring& text) {
    auto view = Find(reinterpret_cast<wkeWebView>(handle));
    if (!view) return;
    const wkeClientHandler* handler;
    {
        std::lock_guard lock(view->m);
        handler = view->handler;
    }
    if (!handler) return;
    wkeNotifyEntry entry = title ? handler->onTitleChanged : handler->onURLChanged;
    if (!entry) return;
    wkeStringTag string{std::move(text)};
    entry(const_cast<wkeClientHandler*>(handler), &string);
}

}  // namespace wkechr
