// Settings of a view: kept in the view (a new page gets them all) and applied to the page now.
#include "engine.h"
#include "engine_limits.h"

namespace wkechr {

void Engine::SetTransparent(View& view, bool transparent) {
    UpdateSettings(view, [&](ViewSettings& settings) { settings.transparent = transparent; });
    view.dirty = true;
    if (Page page = PageOf(view))
        ApplyTransparent(*page.session, page.sessionId, transparent, Deadline::In(limits::kUiReplyMs));
}

void Engine::SetCookies(View& view, bool enabled) {
    UpdateSettings(view, [&](ViewSettings& settings) { settings.cookies = enabled; });
    if (Page page = PageOf(view)) ApplyCookies(*page.session, page.sessionId, enabled, Deadline::In(limits::kUiReplyMs));
}

bool Engine::CookiesEnabled(View& view) {
    std::lock_guard lock(view.m);
    return view.settings.cookies;
}

// The per-page script ids of these two settings are the page's; the page is used on this thread
// only while ready, so a copy is changed here and put back.
void Engine::SetEditable(View& view, bool editable) {
    UpdateSettings(view, [&](ViewSettings& settings) { settings.editable = editable; });
    Page page = PageOf(view);
    if (!page) return;
    TargetState target;
    {
        std::lock_guard lock(view.m);
        target = view.target;
    }
    ApplyEditable(*page.session, target, editable, Deadline::In(limits::kUiReplyMs));
    std::lock_guard lock(view.m);
    if (view.target.sessionId == target.sessionId) view.target.editableScript = target.editableScript;
}

void Engine::SetVolume(View& view, float volume) {
    if (!(volume >= 0.0f)) return;
    UpdateSettings(view, [&](ViewSettings& settings) { settings.volume = volume; });
    Page page = PageOf(view);
    if (!page) return;
    TargetState target;
    {
        std::lock_guard lock(view.m);
        target = view.target;
    }
    ApplyVolume(*page.session, target, volume, Deadline::In(limits::kUiReplyMs));
    std::lock_guard lock(view.m);
    if (view.target.sessionId == target.sessionId) view.target.volumeScript = target.volumeScript;
}

float Engine::Volume(View& view) {
    std::lock_guard lock(view.m);
    return view.settings.volume;
}

}  // namespace wkechr
