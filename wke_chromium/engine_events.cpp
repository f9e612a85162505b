// The browser's events, on the session's reader thread: they feed each view's tracker, title and
// address, and mark pages that are gone. Nothing here waits for an answer.
#include <vector>

#include "engine.h"
#include "engine_limits.h"
#include "page_scripts.h"
#include "text.h"

namespace wkechr {

void Engine::OnEvent(Session* session, const std::string& method, const json& params, const std::string& sessionId) {
    if (sessionId.empty()) return OnTargetEvent(method, params);
    std::shared_ptr<View> match;
    {
        std::lock_guard lock(registryMutex_);
        for (auto& entry : views_) {
            std::lock_guard viewLock(entry.second->m);
            if (entry.second->target.sessionId == sessionId) {
                match = entry.second;
                break;
            }
        }
    }
    if (match) OnViewEvent(*match, session, method, params);
}

void Engine::PageLost(View& view) {
    view.ready = false;
    view.nav.TargetLost(NowMillis());
    view.dirty = true;
    host_.Wake();
}

void Engine::OnTargetEvent(const std::string& method, const json& params) {
    if (method != "Target.targetCrashed" && method != "Target.targetDestroyed" && method != "Target.detachedFromTarget")
        return;
    const std::string targetId = Str(params, "targetId");
    const std::string detached = Str(params, "sessionId");
    std::lock_guard lock(registryMutex_);
    for (auto& entry : views_) {
        View& view = *entry.second;
        std::lock_guard viewLock(view.m);
        const bool match = (!targetId.empty() && view.target.targetId == targetId) ||
                           (!detached.empty() && view.target.sessionId == detached);
        if (match && view.ready) PageLost(view);
    }
}

void Engine::OnViewEvent(View& view, Session* session, const std::string& method, const json& params) {
    std::string sessionId;
    {
        std::lock_guard lock(view.m);
        sessionId = view.target.sessionId;
    }
    const Millis now = NowMillis();
    if (method == "Page.screencastFrame") {
        session->Send("Page.screencastFrameAck", {{"sessionId", params.value("sessionId", 0)}}, sessionId,
                      limits::kAsyncRequestMs, nullptr);
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
        if (Str(params, "name") != scripts::kTitleBinding) return;
        std::wstring title = FromUtf8(Str(params, "payload"));
        bool changed = false;
        {
            std::lock_guard lock(view.m);
            changed = view.title != title;
            if (changed) view.title = title;
        }
        if (changed) Notify(view, true, title);
        return;
    }
    if (method == "Page.javascriptDialogOpening") {
        // A dialog would hold the page (and a batch) until someone answers it.
        session->Send("Page.handleJavaScriptDialog", {{"accept", true}}, sessionId, limits::kAsyncRequestMs, nullptr);
        return;
    }
    if (method == "Inspector.targetCrashed" || method == "Inspector.detached") {
        std::lock_guard lock(view.m);
        if (view.ready) PageLost(view);
        return;
    }
    const std::string frameId = Str(params, "frameId");
    auto isMain = [&](const std::string& id) {
        return !id.empty() && (id == view.target.mainFrameId || id == view.target.targetId);
    };

    if (method == "Page.frameStartedNavigating") {
        const std::string type = Str(params, "navigationType");
        std::lock_guard lock(view.m);
        if (isMain(frameId) && type != "sameDocument" && type != "historySameDocument")
            view.nav.FrameStartedNavigating(now, Str(params, "url"), type == "reload");
    } else if (method == "Page.frameStartedLoading") {
        std::lock_guard lock(view.m);
        if (isMain(frameId)) view.nav.FrameStartedLoading(now);
        view.dirty = true;
    } else if (method == "Page.frameNavigated") {
        const json& frame = params.contains("frame") ? params["frame"] : params;
        if (frame.contains("parentId")) return;
        std::wstring shown;
        {
            std::lock_guard lock(view.m);
            if (!Str(frame, "id").empty()) view.target.mainFrameId = Str(frame, "id");
            view.url = Str(frame, "url") + Str(frame, "urlFragment");
            view.nav.FrameNavigated(now, Str(frame, "loaderId"), view.url);
            const bool errorPage = view.nav.OnErrorPage();
            shown = FromUtf8(errorPage && !view.nav.RequestedUrl().empty() ? view.nav.RequestedUrl() : view.url);
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
            view.nav.NavigatedWithinDocument(now);
            shown = FromUtf8(view.url);
        }
        Notify(view, false, shown);
        RefreshTitle(view, session);
    } else if (method == "Page.lifecycleEvent") {
        const std::string name = Str(params, "name");
        const std::string loaderId = Str(params, "loaderId");
        {
            std::lock_guard lock(view.m);
            if (!isMain(frameId)) return;
            if (name == "DOMContentLoaded")
                view.nav.DomContentLoaded(now, loaderId);
            else if (name == "load")
                view.nav.LoadEvent(now, loaderId);
            else
                return;
        }
        RefreshTitle(view, session);
        view.dirty = true;
    } else if (method == "Page.frameStoppedLoading") {
        std::lock_guard lock(view.m);
        if (isMain(frameId)) view.nav.FrameStoppedLoading(now);
    }
}

void Engine::RefreshTitle(View& view, Session* session) {
    std::string sessionId;
    {
        std::lock_guard lock(view.m);
        sessionId = view.target.sessionId;
    }
    if (sessionId.empty() || !session) return;
    const uintptr_t handle = view.handle;
    session->Send("Runtime.evaluate", {{"expression", scripts::kTitle}, {"returnByValue", true}}, sessionId,
                  limits::kAsyncRequestMs, [this, handle](Reply reply) {
                      if (!reply.ok()) return;
                      const json& value = reply.result["result"];
                      if (!value.is_object() || !value.contains("value") || !value["value"].is_string()) return;
                      std::wstring title = FromUtf8(value["value"].get<std::string>());
                      auto view = Find(reinterpret_cast<wkeWebView>(handle));
                      if (!view) return;
                      bool changed = false;
                      {
                          std::lock_guard lock(view->m);
                          changed = view->title != title;
                          if (changed) view->title = title;
                      }
                      if (changed) Notify(*view, true, title);
                  });
}

}  // namespace wkechr
