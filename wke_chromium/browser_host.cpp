#include "browser_host.h"

#include "engine_limits.h"
#include "page_target.h"
#include "remote_browser.h"
#include "text.h"

namespace wkechr {

namespace {
constexpr Millis kWatchTickMs = 250;
constexpr Millis kHandshakeTryMs = 10000;
}  // namespace

bool BrowserHost::Start(Deadline deadline, EventHandler events, Maintain maintain, std::wstring& problem) {
    {
        std::lock_guard lock(mutex_);
        events_ = std::move(events);
        maintain_ = std::move(maintain);
        stopping_ = false;
    }
    remoteUrl_ = BrowserUrlFromEnvironment();
    if (!Launch(deadline, problem)) return false;
    watcher_ = std::thread([this] { Watch(); });
    return true;
}

bool BrowserHost::Launch(Deadline deadline, std::wstring& problem) {
    std::lock_guard launch(launchMutex_);
    auto session = std::make_shared<Session>();
    Session* raw = session.get();
    session->SetEventHandler([this, raw](const std::string& method, const json& params, const std::string& sessionId) {
        EventHandler handler;
        {
            std::lock_guard lock(mutex_);
            handler = events_;
        }
        if (handler) handler(raw, method, params, sessionId);
    });
    if (!(Remote() ? ConnectRemote(deadline, session, problem) : LaunchLocal(deadline, session, problem))) return false;
    std::lock_guard lock(mutex_);
    session_ = std::move(session);
    ++generation_;
    pid_ = browser_.Pid();
    profile_ = browser_.ProfileFolder();
    return true;
}

bool BrowserHost::LaunchLocal(Deadline deadline, const std::shared_ptr<Session>& session, std::wstring& problem) {
    BrowserSearch search = FindBrowser();
    if (search.found.empty()) {
        problem = search.fromVariable ? L"环境变量 " + std::wstring(kBrowserVariable) + L" 指定的浏览器不存在 / " +
                                            std::wstring(kBrowserVariable) + L" names no existing file:\n"
                                      : std::wstring(L"查找过 / Looked for:\n");
        for (const auto& place : search.places) problem += L"  " + place + L"\n";
        return false;
    }
    std::wstring error;
    if (!browser_.Start(search.found, deadline, error)) {
        problem = L"浏览器无法启动 / The browser did not start:\n  " + search.found + L"\n  " + error;
        return false;
    }
    // A browser that has just written its port may still be busy starting (on a loaded machine,
    // for seconds): the handshake is tried again within the start's own deadline.
    bool open = false;
    while (!open && !deadline.Passed()) {
        open = session->Open(browser_.Port(), browser_.EndpointPath(), deadline.Within(kHandshakeTryMs));
        if (!open) Sleep(200);
    }
    if (!open || !session->Call("Target.setDiscoverTargets", {{"discover", true}}, {}, deadline).ok()) {
        session->Close();
        browser_.Cleanup();
        problem = L"无法连接浏览器 / Could not connect to the browser:\n  " + search.found;
        return false;
    }
    if (browser_.Pid() == 0) {
        Reply info = session->Call("SystemInfo.getProcessInfo", json::object(), {}, deadline);
        if (info.ok() && info.result.contains("processInfo") && info.result["processInfo"].is_array()) {
            for (const auto& process : info.result["processInfo"])
                if (Str(process, "type") == "browser") browser_.SetPid(static_cast<DWORD>(Num(process, "id")));
        }
    }
    std::lock_guard lock(mutex_);
    browserContext_.clear();
    return true;
}

bool BrowserHost::ConnectRemote(Deadline deadline, const std::shared_ptr<Session>& session, std::wstring& problem) {
    EndpointAddress endpoint;
    std::wstring error;
    if (!ResolveBrowserEndpoint(remoteUrl_, deadline, endpoint, error)) {
        problem = L"无法连接环境变量 " + std::wstring(kBrowserUrlVariable) + L" 指定的浏览器 / " +
                  std::wstring(kBrowserUrlVariable) + L" names no reachable browser:\n  " + error;
        return false;
    }
    if (!session->Open(endpoint.host, endpoint.port, endpoint.path, deadline) ||
        !session->Call("Target.setDiscoverTargets", {{"discover", true}}, {}, deadline).ok()) {
        session->Close();
        problem = L"无法连接浏览器 / Could not connect to the browser:\n  " + FromUtf8(EndpointText(endpoint));
        return false;
    }
    // Pages of their own context keep copies that share the browser from sharing cookies, and
    // the context takes every page of ours with it when it is disposed. Some endpoints refuse
    // contexts; the default one does then.
    Reply context = session->Call("Target.createBrowserContext", {{"disposeOnDetach", true}}, {}, deadline);
    std::lock_guard lock(mutex_);
    browserContext_ = context.ok() ? Str(context.result, "browserContextId") : std::string();
    return true;
}

void BrowserHost::Watch() {
    Millis lastFailure = 0;
    int remoteFailures = 0;
    for (;;) {
        std::shared_ptr<Session> session;
        uint64_t generation;
        Maintain maintain;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(kWatchTickMs), [&] { return woken_ || stopping_; });
            if (stopping_) return;
            woken_ = false;
            session = session_;
            generation = generation_;
            maintain = maintain_;
        }
        if (!session || !session->Alive()) {
            if (Remote() && remoteFailures >= limits::kRemoteAttempts) continue;
            const Millis backoff = Remote() ? limits::kRemoteRetryMs : limits::kRestartBackoffMs;
            if (lastFailure != 0 && NowMillis() - lastFailure < backoff) continue;
            if (session) session->Close();
            {
                std::lock_guard lock(mutex_);
                session_.reset();
                pid_ = 0;
            }
            {
                std::lock_guard launch(launchMutex_);
                browser_.Cleanup();
            }
            std::wstring problem;
            if (!Launch(Deadline::In(limits::kRestartMs), problem)) {
                lastFailure = NowMillis();
                ++remoteFailures;
                continue;
            }
            lastFailure = 0;
            remoteFailures = 0;
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            session = session_;
            generation = generation_;
        }
        if (maintain) maintain(session, generation);
    }
}

void BrowserHost::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        events_ = nullptr;
        maintain_ = nullptr;
    }
    wake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
    std::shared_ptr<Session> session;
    std::string context;
    {
        std::lock_guard lock(mutex_);
        session.swap(session_);
        context.swap(browserContext_);
        pid_ = 0;
        profile_.clear();
    }
    const Deadline closeBy = Deadline::In(limits::kCloseBrowserMs);
    if (session && session->Alive()) {
        if (!Remote())
            session->Send("Browser.close", json::object(), {}, closeBy, nullptr);
        else if (!context.empty())  // a browser we only borrowed: just our pages go
            session->Call("Target.disposeBrowserContext", {{"browserContextId", context}}, {}, closeBy);
        else
            session->Call("Browser.getVersion", json::object(), {}, closeBy);  // the pages' closes are out
    }
    std::lock_guard launch(launchMutex_);
    if (!Remote()) browser_.Stop(closeBy);
    if (session) session->Close();
}

BrowserHost::Current BrowserHost::Get() {
    std::lock_guard lock(mutex_);
    return {session_, generation_};
}

void BrowserHost::Wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

DWORD BrowserHost::Pid() {
    std::lock_guard lock(mutex_);
    return pid_;
}

std::wstring BrowserHost::ProfileFolder() {
    std::lock_guard lock(mutex_);
    return profile_;
}

std::string BrowserHost::BrowserContext() {
    std::lock_guard lock(mutex_);
    return browserContext_;
}

}  // namespace wkechr
