// Loading: requests go out without waiting, the tracker (fed by engine_events.cpp) answers.
#include <cstdint>

#include "engine.h"
#include "engine_limits.h"
#include "text.h"

namespace wkechr {

Session::Callback Engine::NavigationAnswer(const View& view, uint64_t seq, bool namesLoader) {
    const uintptr_t handle = view.handle;
    return [this, handle, seq, namesLoader](Reply reply) {
        auto view = Find(reinterpret_cast<wkeWebView>(handle));
        if (!view) return;
        using R = NavigationTracker::Reply;
        R outcome = R::Accepted;
        switch (reply.status) {
        case Status::Ok: outcome = namesLoader ? R::Ok : R::Accepted; break;
        case Status::ProtocolError: outcome = R::Error; break;
        case Status::Closed: outcome = R::Lost; break;
        case Status::TimedOut: outcome = R::Accepted; break;  // the load's own limit decides
        }
        std::lock_guard lock(view->m);
        view->nav.NavigateReplied(seq, NowMillis(), outcome, Str(reply.result, "loaderId"), Str(reply.result, "errorText"));
    };
}

void Engine::SendNavigate(View& view, const Page& page, bool reload) {
    uint64_t seq;
    std::string url;
    {
        std::lock_guard lock(view.m);
        seq = view.nav.Seq();
        url = view.nav.RequestedUrl();
    }
    json params = {{"url", url}};
    if (reload) params["transitionType"] = "reload";
    page.session->Send("Page.navigate", std::move(params), page.sessionId, limits::kAsyncRequestMs,
                       NavigationAnswer(view, seq, true));
}

void Engine::Navigate(View& view, const std::string& url, bool keepClock) { Navigate(view, url, keepClock, false); }

void Engine::Navigate(View& view, const std::string& url, bool keepClock, bool plainReload) {
    Page page = PageOf(view);
    uint64_t seq;
    {
        std::lock_guard lock(view.m);
        seq = view.nav.Request(NowMillis(), url, keepClock);
        view.sendPending = !page;
        if (!page && everFailed_) view.nav.RequestFailed(seq, NowMillis());
    }
    view.dirty = true;
    if (!page) return host_.Wake();  // sent once the view has its page again
    if (!plainReload) return SendNavigate(view, page, keepClock);
    page.session->Send("Page.reload", json::object(), page.sessionId, limits::kAsyncRequestMs,
                       NavigationAnswer(view, seq, false));
}

void Engine::LoadHtml(View& view, const std::wstring& html) {
    std::string utf8 = ToUtf8(html);
    if (utf8.size() < (1u << 20)) {
        Navigate(view, "data:text/html;charset=utf-8;base64," + Base64Encode(utf8));
        return;
    }
    // Long texts go through a file in the profile: addresses have a length limit.
    static LONG counter = 0;
    std::wstring folder = host_.ProfileFolder();
    if (folder.empty()) return Navigate(view, "about:blank");
    std::wstring path = folder + L"\\page-" + std::to_wstring(InterlockedIncrement(&counter)) + L".html";
    {
        ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr))
            return Navigate(view, "about:blank");
    }
    Navigate(view, FileUrlFromPath(BrowserSidePath(path)));
}

NavigationTracker& Engine::Load(View& view) {
    BrowserHost::Current current = host_.Get();
    if (view.ready && (view.generation != current.generation || !current.Usable())) PageLost(view);
    // A borrowed browser that is gone is not replaced by one of ours: what it was to load has failed.
    if (!view.ready && host_.Remote() && !current.Usable()) {
        view.nav.RequestFailed(view.nav.Seq(), NowMillis());
        view.sendPending = false;
    }
    view.nav.Query(NowMillis());
    return view.nav;
}

bool Engine::IsLoadComplete(View& view) {
    std::lock_guard lock(view.m);
    return Load(view).Query(NowMillis()) == NavigationTracker::State::Complete;
}

bool Engine::IsLoaded(View& view) {
    std::lock_guard lock(view.m);
    return Load(view).Loaded(NowMillis());
}

bool Engine::IsLoadFailed(View& view) {
    std::lock_guard lock(view.m);
    return Load(view).Failed(NowMillis());
}

bool Engine::IsDocumentReady(View& view) {
    std::lock_guard lock(view.m);
    return Load(view).DocumentReady(NowMillis());
}

void Engine::StopLoading(View& view) {
    if (Page page = PageOf(view))
        page.session->Send("Page.stopLoading", json::object(), page.sessionId, limits::kAsyncRequestMs, nullptr);
    std::lock_guard lock(view.m);
    view.nav.Stop(NowMillis());
    view.sendPending = false;
}

void Engine::Reload(View& view) {
    std::string url;
    bool plainReload;
    bool keepClock;
    {
        std::lock_guard lock(view.m);
        NavigationTracker& nav = Load(view);
        const bool done = nav.Query(NowMillis()) == NavigationTracker::State::Complete;
        // A finished page reloads as a browser would; a stuck or failed load is asked for again.
        plainReload = done && nav.Loaded(NowMillis()) && !nav.OnErrorPage() && view.ready && !view.url.empty() &&
                      view.url != "about:blank";
        url = plainReload || nav.RequestedUrl().empty() ? view.url : nav.RequestedUrl();
        keepClock = !done;
    }
    Navigate(view, url.empty() ? "about:blank" : url, keepClock, plainReload);
}

bool Engine::CanGo(View& view, int step) {
    Page page = PageOf(view);
    if (!page) return false;
    Reply history = page.session->Call("Page.getNavigationHistory", json::object(), page.sessionId,
                                       Deadline::In(limits::kUiReplyMs));
    if (!history.ok() || !history.result.contains("entries")) return false;
    int index = static_cast<int>(Num(history.result, "currentIndex", -1)) + step;
    return index >= 0 && index < static_cast<int>(history.result["entries"].size());
}

bool Engine::Go(View& view, int step) {
    Page page = PageOf(view);
    if (!page) return false;
    Reply history = page.session->Call("Page.getNavigationHistory", json::object(), page.sessionId,
                                       Deadline::In(limits::kUiReplyMs));
    if (!history.ok() || !history.result.contains("entries")) return false;
    int index = static_cast<int>(Num(history.result, "currentIndex", -1)) + step;
    const json& entries = history.result["entries"];
    if (index < 0 || index >= static_cast<int>(entries.size())) return false;
    uint64_t seq;
    {
        std::lock_guard lock(view.m);
        seq = view.nav.Request(NowMillis(), Str(entries[index], "url"));
        view.sendPending = false;
    }
    view.dirty = true;
    page.session->Send("Page.navigateToHistoryEntry", {{"entryId", entries[index].value("id", 0)}}, page.sessionId,
                       limits::kAsyncRequestMs, NavigationAnswer(view, seq, false));
    return true;
}

}  // namespace wkechr
