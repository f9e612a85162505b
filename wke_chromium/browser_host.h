// The browser behind all views: its process, the one DevTools session to it, which generation
// of browser that is, and the restart policy. A restart happens only when the connection is
// closed or the process is gone, never because a call was slow, and always on the host's own
// thread, so that no entry waits for it. With WKE_BROWSER_URL set the browser is one that
// already runs: the host only connects to it, keeps its pages in a browser context of its own
// where the endpoint allows, reconnects a limited number of times, and never closes that browser.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "browser_process.h"
#include "session.h"

namespace wkechr {

class BrowserHost {
public:
    // Protocol events, on the reader thread of the session they came from.
    using EventHandler =
        std::function<void(Session* session, const std::string& method, const json& params, const std::string& sessionId)>;
    // On the host's thread, whenever it wakes with a usable browser: views without a page in this
    // generation get one here.
    using Maintain = std::function<void(const std::shared_ptr<Session>& session, uint64_t generation)>;

    struct Current {
        std::shared_ptr<Session> session;  // null or not alive when there is no browser now
        uint64_t generation = 0;
        bool Usable() const { return session && session->Alive(); }
    };

    BrowserHost() = default;
    ~BrowserHost() { Stop(); }
    BrowserHost(const BrowserHost&) = delete;
    BrowserHost& operator=(const BrowserHost&) = delete;

    // The first start, on the calling thread, within `deadline`; then the host's thread watches.
    // On failure `problem` says why in words for the user, and nothing is left running.
    bool Start(Deadline deadline, EventHandler events, Maintain maintain, std::wstring& problem);
    // Ends the host's thread, then the browser, quickly.
    void Stop();

    // Never waits.
    Current Get();
    // Asks the host's thread to look at the views now (a page was lost, a view was made).
    void Wake();

    DWORD Pid();
    std::wstring ProfileFolder();
    // Where new pages go: empty for the browser's default context.
    std::string BrowserContext();
    bool Remote() const { return !remoteUrl_.empty(); }

private:
    bool Launch(Deadline deadline, std::wstring& problem);  // host mutex not held
    bool LaunchLocal(Deadline deadline, const std::shared_ptr<Session>& session, std::wstring& problem);
    bool ConnectRemote(Deadline deadline, const std::shared_ptr<Session>& session, std::wstring& problem);
    void Watch();

    std::mutex mutex_;  // guards everything below but browser_, which only Launch and Stop touch
    std::condition_variable wake_;
    bool woken_ = false;
    bool stopping_ = false;
    std::shared_ptr<Session> session_;
    uint64_t generation_ = 0;
    DWORD pid_ = 0;
    std::wstring profile_;
    std::string browserContext_;
    std::wstring remoteUrl_;  // set before the host's thread starts, then only read
    EventHandler events_;
    Maintain maintain_;
    std::thread watcher_;

    std::mutex launchMutex_;  // one launch or stop at a time
    BrowserProcess browser_;
};

}  // namespace wkechr
