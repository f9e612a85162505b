// Views get their pages here, on the browser host's thread: a new view, a view whose page
// crashed, and every view after a new browser. A restored view is opened with its settings and
// sent again to the address last asked for, so that it never shows a page nobody asked for.
#include <vector>

#include "engine.h"
#include "engine_limits.h"

namespace wkechr {

namespace {
constexpr int kSettingsRounds = 3;  // settings changed while the page opened are replayed
}

void Engine::Maintain(const std::shared_ptr<Session>& session, uint64_t generation) {
    std::vector<std::shared_ptr<View>> views;
    {
        std::lock_guard lock(registryMutex_);
        for (auto& entry : views_) views.push_back(entry.second);
    }
    for (auto& view : views) {
        {
            std::lock_guard lock(view->m);
            if (view->generation != generation && view->ready) PageLost(*view);
            if (view->ready || view->opening) continue;
            view->opening = true;
        }
        Restore(*view, session, generation);
        if (!session->Alive()) return;
    }
}

void Engine::Restore(View& view, const std::shared_ptr<Session>& session, uint64_t generation) {
    TargetState target;
    ViewSettings settings;
    uint64_t version;
    {
        std::lock_guard lock(view.m);
        settings = view.settings;
        version = view.settingsVersion;
    }
    bool open = OpenTarget(*session, host_.BrowserContext(), settings, Deadline::In(limits::kReopenPageMs), target);
    for (int round = 1; open && round < kSettingsRounds; ++round) {
        {
            std::lock_guard lock(view.m);
            if (view.settingsVersion == version) break;
            settings = view.settings;
            version = view.settingsVersion;
        }
        open = ReplaySettings(*session, settings, Deadline::In(limits::kReopenPageMs), target);
    }
    bool registered;
    {
        std::lock_guard lock(registryMutex_);
        registered = views_.count(view.handle) != 0;
    }
    bool navigate = false;
    {
        std::lock_guard lock(view.m);
        view.opening = false;
        if (!open || !registered) {
            // Tried again at the host's next look; the load's own limit still ends a wait for it.
        } else {
            view.target = target;
            view.generation = generation;
            view.ready = true;
            view.url = "about:blank";
            view.lastFrame.clear();
            if (view.nav.NeedsReissue()) {
                view.nav.Request(NowMillis(), view.nav.RequestedUrl(), true);
                navigate = true;
            } else if (view.sendPending) {
                navigate = true;
            }
            view.sendPending = false;
        }
    }
    if (open && !registered) CloseTarget(*session, target.targetId);
    if (!open || !registered) return;
    view.dirty = true;
    if (navigate) SendNavigate(view, Page{session, target.sessionId}, false);
}

}  // namespace wkechr
