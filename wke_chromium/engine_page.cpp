// The view's size, its pixels and scripts in its page. Every call here waits at most
// limits::kUiReplyMs, except a paint, which gets limits::PaintBudgetMs for its frame.
#include <algorithm>
#include <cmath>

#include "capture.h"
#include "engine.h"
#include "engine_limits.h"
#include "page_scripts.h"
#include "text.h"

namespace wkechr {

namespace {
constexpr int kMaxViewSide = 10'000'000;
constexpr int kContentsRetryMs = 100;  // between two questions for a page's size
}

void Engine::Resize(View& view, int w, int h) {
    w = std::clamp(w, 0, kMaxViewSide);
    h = std::clamp(h, 0, kMaxViewSide);
    ViewSettings settings;
    {
        std::lock_guard lock(view.m);
        if (w == view.settings.width && h == view.settings.height) return;
        view.settings.width = w;
        view.settings.height = h;
        ++view.settingsVersion;
        settings = view.settings;
    }
    view.dirty = true;
    Page page = PageOf(view);
    if (!page) return;  // the page gets the size when it is made
    const bool large = w > kLargeFrame || h > kLargeFrame;
    if (large) {
        std::lock_guard lock(view.m);
        UpdateScreencast(*page.session, view.target, settings);
    }
    ApplyMetrics(*page.session, page.sessionId, settings, Deadline::In(limits::kUiReplyMs));
    if (!large) {
        std::lock_guard lock(view.m);
        UpdateScreencast(*page.session, view.target, settings);
    }
}

int Engine::Width(View& view) {
    std::lock_guard lock(view.m);
    return view.settings.width;
}

int Engine::Height(View& view) {
    std::lock_guard lock(view.m);
    return view.settings.height;
}

void Engine::SetZoom(View& view, float factor) {
    if (!(factor >= 0.05f && factor <= 20.0f)) return;
    ViewSettings settings;
    {
        std::lock_guard lock(view.m);
        if (view.settings.zoom == factor) return;
        view.settings.zoom = factor;
        ++view.settingsVersion;
        settings = view.settings;
    }
    view.dirty = true;
    if (Page page = PageOf(view)) ApplyMetrics(*page.session, page.sessionId, settings, Deadline::In(limits::kUiReplyMs));
}

float Engine::Zoom(View& view) {
    std::lock_guard lock(view.m);
    return static_cast<float>(view.settings.zoom);
}

void Engine::Paint(View& view, void* bits, int pitch) {
    ViewSettings settings;
    {
        std::lock_guard lock(view.m);
        settings = view.settings;
    }
    // The caller's buffer holds the size it last set, and nothing for a size of 0.
    if (!bits || settings.width <= 0 || settings.height <= 0) return;
    const int width = settings.width, height = settings.height;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    const size_t stride = pitch > 0 && static_cast<size_t>(pitch) >= rowBytes ? static_cast<size_t>(pitch) : rowBytes;
    auto* dest = static_cast<uint8_t*>(bits);
    view.dirty = false;
    Page page = PageOf(view);
    if (!page) {
        FillWhite(dest, width, height, stride);
        return;
    }
    const Deadline deadline = Deadline::In(limits::PaintBudgetMs(width, height));
    CaptureRequest request;
    request.width = width;
    request.height = height;
    request.zoom = settings.zoom;
    request.dest = dest;
    request.pitch = stride;
    request.deadline = deadline;
    Reply metrics = page.session->Call("Page.getLayoutMetrics", json::object(), page.sessionId,
                                       deadline.Within(limits::kUiReplyMs));
    if (metrics.ok() && metrics.result.contains("cssVisualViewport")) {
        request.scrollX = Num(metrics.result["cssVisualViewport"], "pageX");
        request.scrollY = Num(metrics.result["cssVisualViewport"], "pageY");
    }
    CaptureFrame(*page.session, page.sessionId, request);
}

std::pair<int, int> Engine::ContentsSize(View& view) {
    // A page that replaces itself (a refresh, a redirect) may be between documents when asked:
    // no answer, or an empty one. It is asked again within the same bound.
    const Deadline deadline = Deadline::In(limits::kUiReplyMs);
    for (;;) {
        json value = Evaluate(view, scripts::kContentsSize, deadline);
        if (value.is_object() && value.contains("value") && value["value"].is_array() && value["value"].size() == 2) {
            const double zoom = Zoom(view);
            auto scaled = [&](const json& v) {
                double d = v.is_number() ? v.get<double>() * zoom : 0;
                return d > 0 && d < 1e9 ? static_cast<int>(std::lround(d)) : 0;
            };
            const std::pair<int, int> size{scaled(value["value"][0]), scaled(value["value"][1])};
            if ((size.first > 0 && size.second > 0) || deadline.RemainingMs() < kContentsRetryMs) return size;
        } else if (deadline.RemainingMs() < kContentsRetryMs) {
            return {0, 0};
        }
        Sleep(kContentsRetryMs);
    }
}

jsValue Engine::RunScript(View& view, const std::string& script) {
    json value = Evaluate(view, script, Deadline::In(limits::kUiReplyMs), true);
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
    json value = Evaluate(view, scripts::kTitle, Deadline::In(limits::kUiReplyMs));
    std::lock_guard lock(view.m);
    if (value.is_object() && value.contains("value") && value["value"].is_string())
        view.title = FromUtf8(value["value"].get<std::string>());
    view.titleOut = view.title;
    return view.titleOut.c_str();
}

}  // namespace wkechr
