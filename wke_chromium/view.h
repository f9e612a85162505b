// One view: the program's handle, what the program set and asked for, and the page that shows
// it in the current browser.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "../engine/wke.h"
#include "navigation_tracker.h"
#include "page_target.h"

struct wkeStringTag {
    std::wstring text;
};

namespace wkechr {

struct View {
    uintptr_t handle = 0;

    // Guarded by `m`: the entries, the reader thread's events and the host's thread all use them.
    // The entries use the page only while `ready`; the host's thread opens it only while not.
    std::mutex m;
    ViewSettings settings;
    uint64_t settingsVersion = 0;
    TargetState target;
    uint64_t generation = 0;    // the browser the page lives in
    bool ready = false;         // the page exists in the current browser and has the settings
    bool opening = false;       // the host's thread is making it
    bool sendPending = false;   // the tracker's request was not sent yet (no page): the opener sends it
    NavigationTracker nav;
    std::string url;            // the address the page shows
    std::wstring title;
    const wkeClientHandler* handler = nullptr;
    std::string lastFrame;      // the latest screencast frame, to tell new pixels from repeats

    // Only the entries' thread touches these.
    std::wstring titleOut;
    char16_t pendingHighSurrogate = 0;
    int clickCount = 0;

    std::atomic<bool> dirty{true};
};

}  // namespace wkechr
