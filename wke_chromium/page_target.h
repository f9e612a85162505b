// One view's page in the browser: opening a target with every setting the view has, applying a
// setting to it, closing it. Each call takes the deadline of the operation it belongs to.
#pragma once

#include <string>

#include "session.h"

namespace wkechr {

// What the program set on a view; replayed on every new target.
struct ViewSettings {
    int width = 800;  // device pixels; 0 is kept (the browser gets at least 1)
    int height = 600;
    double zoom = 1.0;
    bool transparent = false;
    bool cookies = true;
    bool editable = false;
    bool focused = true;
    float volume = 1.0f;
};

// Per-target state the settings leave behind.
struct TargetState {
    std::string targetId;
    std::string sessionId;
    std::string mainFrameId;
    std::string loaderId;  // the document it opened with
    std::string editableScript;
    std::string volumeScript;
    bool screencasting = false;
};

// Creates, attaches and prepares a target and replays `settings`. False (and nothing left open)
// when a call that the view cannot work without failed.
// `browserContextId` empty: the browser's default context.
bool OpenTarget(Session& session, const std::string& browserContextId, const ViewSettings& settings,
                Deadline deadline, TargetState& target);
void CloseTarget(Session& session, const std::string& targetId);
// Re-applies everything in `settings` to a target already open.
bool ReplaySettings(Session& session, const ViewSettings& settings, Deadline deadline, TargetState& target);

bool ApplyMetrics(Session& session, const std::string& sessionId, const ViewSettings& settings, Deadline deadline);
// The screencast only tells that new frames exist; a page-sized viewport (a capture) would make
// every frame expensive, so it pauses for frames above kLargeFrame.
inline constexpr int kLargeFrame = 8192;
void UpdateScreencast(Session& session, TargetState& target, const ViewSettings& settings);
bool ApplyTransparent(Session& session, const std::string& sessionId, bool transparent, Deadline deadline);
bool ApplyCookies(Session& session, const std::string& sessionId, bool enabled, Deadline deadline);
bool ApplyEditable(Session& session, TargetState& target, bool editable, Deadline deadline);
bool ApplyVolume(Session& session, TargetState& target, float volume, Deadline deadline);
bool ApplyFocus(Session& session, const std::string& sessionId, bool focused, Deadline deadline);

// Small readers of protocol objects.
std::string Str(const json& object, const char* key);
double Num(const json& object, const char* key, double fallback = 0);

}  // namespace wkechr
