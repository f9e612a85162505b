#include "page_target.h"

#include <algorithm>
#include <cmath>

#include "engine_limits.h"
#include "page_scripts.h"

namespace wkechr {

std::string Str(const json& object, const char* key) {
    if (!object.is_object()) return {};
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

double Num(const json& object, const char* key, double fallback) {
    if (!object.is_object()) return fallback;
    auto it = object.find(key);
    return it != object.end() && it->is_number() ? it->get<double>() : fallback;
}

bool OpenTarget(Session& session, const std::string& browserContextId, const ViewSettings& settings,
                Deadline deadline, TargetState& target) {
    target = TargetState{};
    json params = {{"url", "about:blank"}, {"newWindow", true}};
    if (!browserContextId.empty()) params["browserContextId"] = browserContextId;
    Reply created = session.Call("Target.createTarget", std::move(params), {}, deadline);
    std::string targetId = Str(created.result, "targetId");
    if (!created.ok() || targetId.empty()) return false;
    Reply attached = session.Call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, {}, deadline);
    std::string sessionId = Str(attached.result, "sessionId");
    if (!attached.ok() || sessionId.empty()) {
        CloseTarget(session, targetId);
        return false;
    }
    target.targetId = targetId;
    target.sessionId = sessionId;
    target.mainFrameId = targetId;
    // Without these the view would never learn that a load ended, or lose title changes.
    bool ready = session.Call("Page.enable", json::object(), sessionId, deadline).ok() &&
                 session.Call("Page.setLifecycleEventsEnabled", {{"enabled", true}}, sessionId, deadline).ok() &&
                 session.Call("Inspector.enable", json::object(), sessionId, deadline).ok() &&
                 session.Call("Runtime.enable", json::object(), sessionId, deadline).ok() &&
                 session.Call("Runtime.addBinding", {{"name", scripts::kTitleBinding}}, sessionId, deadline).ok() &&
                 session.Call("Page.addScriptToEvaluateOnNewDocument", {{"source", scripts::kTitleWatcher}}, sessionId,
                              deadline)
                     .ok();
    Reply tree = ready ? session.Call("Page.getFrameTree", json::object(), sessionId, deadline) : Reply{};
    if (tree.ok() && tree.result.contains("frameTree")) {
        const json& frame = tree.result["frameTree"]["frame"];
        if (!Str(frame, "id").empty()) target.mainFrameId = Str(frame, "id");
        target.loaderId = Str(frame, "loaderId");
    }
    if (!ready || !tree.ok() || !ReplaySettings(session, settings, deadline, target)) {
        CloseTarget(session, targetId);
        target = TargetState{};
        return false;
    }
    return true;
}

void CloseTarget(Session& session, const std::string& targetId) {
    if (!targetId.empty())
        session.Send("Target.closeTarget", {{"targetId", targetId}}, {}, limits::kAsyncRequestMs, nullptr);
}

bool ReplaySettings(Session& session, const ViewSettings& settings, Deadline deadline, TargetState& target) {
    const std::string& sessionId = target.sessionId;
    bool ok = ApplyFocus(session, sessionId, settings.focused, deadline) &&
              ApplyMetrics(session, sessionId, settings, deadline);
    if (ok && settings.transparent) ok = ApplyTransparent(session, sessionId, true, deadline);
    if (ok && !settings.cookies) ok = ApplyCookies(session, sessionId, false, deadline);
    if (ok && settings.editable) ok = ApplyEditable(session, target, true, deadline);
    if (ok && settings.volume != 1.0f) ok = ApplyVolume(session, target, settings.volume, deadline);
    if (ok) UpdateScreencast(session, target, settings);
    return ok;
}

bool ApplyMetrics(Session& session, const std::string& sessionId, const ViewSettings& settings, Deadline deadline) {
    json params = {{"width", std::max(1L, std::lround(settings.width / settings.zoom))},
                   {"height", std::max(1L, std::lround(settings.height / settings.zoom))},
                   {"deviceScaleFactor", settings.zoom},
                   {"mobile", false}};
    return session.Call("Emulation.setDeviceMetricsOverride", std::move(params), sessionId, deadline).ok();
}

void UpdateScreencast(Session& session, TargetState& target, const ViewSettings& settings) {
    const bool large = settings.width > kLargeFrame || settings.height > kLargeFrame;
    if (large && target.screencasting) {
        session.Send("Page.stopScreencast", json::object(), target.sessionId, limits::kAsyncRequestMs, nullptr);
        target.screencasting = false;
    } else if (!large && !target.screencasting) {
        session.Send("Page.startScreencast",
                     {{"format", "jpeg"}, {"quality", 30}, {"maxWidth", 256}, {"maxHeight", 256}, {"everyNthFrame", 1}},
                     target.sessionId, limits::kAsyncRequestMs, nullptr);
        target.screencasting = true;
    }
}

bool ApplyTransparent(Session& session, const std::string& sessionId, bool transparent, Deadline deadline) {
    json params = json::object();
    if (transparent) params["color"] = {{"r", 0}, {"g", 0}, {"b", 0}, {"a", 0}};
    return session.Call("Emulation.setDefaultBackgroundColorOverride", std::move(params), sessionId, deadline).ok();
}

bool ApplyCookies(Session& session, const std::string& sessionId, bool enabled, Deadline deadline) {
    return session.Call("Emulation.setDocumentCookieDisabled", {{"disabled", !enabled}}, sessionId, deadline).ok();
}

bool ApplyFocus(Session& session, const std::string& sessionId, bool focused, Deadline deadline) {
    return session.Call("Emulation.setFocusEmulationEnabled", {{"enabled", focused}}, sessionId, deadline).ok();
}

// Replaces the script that a new document runs for a setting, then runs `now` in the current one.
static bool ReplaceDocumentScript(Session& session, const std::string& sessionId, std::string& identifier,
                                  const std::string& source, const std::string& now, Deadline deadline) {
    if (!identifier.empty()) {
        session.Call("Page.removeScriptToEvaluateOnNewDocument", {{"identifier", identifier}}, sessionId, deadline);
        identifier.clear();
    }
    if (!source.empty()) {
        Reply added = session.Call("Page.addScriptToEvaluateOnNewDocument", {{"source", source}}, sessionId, deadline);
        if (!added.ok()) return false;
        identifier = Str(added.result, "identifier");
    }
    return session.Call("Runtime.evaluate", {{"expression", now}}, sessionId, deadline).ok();
}

bool ApplyEditable(Session& session, TargetState& target, bool editable, Deadline deadline) {
    const std::string script = scripts::DesignMode(editable);
    return ReplaceDocumentScript(session, target.sessionId, target.editableScript, editable ? script : std::string(),
                                 script, deadline);
}

bool ApplyVolume(Session& session, TargetState& target, float volume, Deadline deadline) {
    const float level = std::min(1.0f, volume);
    const std::string watch = scripts::VolumeWatcher(level);
    return ReplaceDocumentScript(session, target.sessionId, target.volumeScript, watch,
                                 scripts::VolumeNow(level) + ";" + watch, deadline);
}

}  // namespace wkechr
