// The load state of one view, as pure logic: the protocol's page events and the clock go in,
// "loading / complete / failed" comes out. Knows nothing of sessions, threads or windows; the
// caller serialises access.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "deadline.h"

namespace wkechr {

class NavigationTracker {
public:
    enum class State { Complete, Loading };

    // A navigation we asked for (an address, a reload, a history step). `keepClock` keeps the time
    // limit of the load it replaces (a reload of a stuck page is not a fresh start). Returns its
    // number: replies to older requests are ignored.
    uint64_t Request(Millis now, const std::string& url, bool keepClock = false);
    // Nothing could be sent (no browser): the request ends failed at once.
    void RequestFailed(uint64_t seq, Millis now);

    // The answer to our navigate request: `loaderId` empty means nothing to wait for (same document).
    // Accepted: an answer that names no loader (a history step, or no answer in time): the page's
    // events decide.
    enum class Reply { Ok, Accepted, Error, Lost };
    void NavigateReplied(uint64_t seq, Millis now, Reply reply, const std::string& loaderId = {},
                         const std::string& errorText = {});

    // Main-frame events only; the caller filters out child frames and same-document moves.
    void FrameStartedLoading(Millis now);
    // The frame begins to navigate to `url`, whoever asked. After our load this is the page's own
    // doing: a redirect to another address is followed a few times; a refresh of the same address
    // (a loop) is not, and only a page that had settled starts a load of its own.
    void FrameStartedNavigating(Millis now, const std::string& url, bool reload);
    void FrameNavigated(Millis now, const std::string& loaderId, const std::string& url);
    void DomContentLoaded(Millis now, const std::string& loaderId);
    void LoadEvent(Millis now, const std::string& loaderId);
    void FrameStoppedLoading(Millis now);
    // A history step or script moved within the document: nothing will load.
    void NavigatedWithinDocument(Millis now);

    // The page's target is gone (crashed, detached, browser lost). A load in progress is not
    // over: it is asked for again once the page is back (see NeedsReissue).
    void TargetLost(Millis now);
    // True after TargetLost mid-load: the caller re-issues `RequestedUrl()` with keepClock.
    bool NeedsReissue() const { return reissue_; }
    // The user stopped the load.
    void Stop(Millis now);

    // Applies the time limits and answers.
    State Query(Millis now);
    bool Loaded(Millis now) { return Query(now) == State::Complete && !failed_; }
    bool Failed(Millis now) { return Query(now) == State::Complete && failed_; }
    bool DocumentReady(Millis now) { return docReady_ || Loaded(now); }

    const std::string& RequestedUrl() const { return requestedUrl_; }
    const std::string& CommittedUrl() const { return committedUrl_; }
    bool OnErrorPage() const { return committedUrl_.rfind("chrome-error:", 0) == 0; }
    uint64_t Seq() const { return seq_; }

    // How many documents a page may put in place of ours by itself and still count as our load
    // (redirects); and how long after the last load a navigation counts as the page's own.
    static constexpr int kFollowedHops = 3;
    static constexpr Millis kSettledMs = 2000;

private:
    void Complete(Millis now, bool failed);
    bool Counts(const std::string& loaderId) const;

    State state_ = State::Complete;
    uint64_t seq_ = 0;
    std::string requestedUrl_;
    std::string committedUrl_;
    std::string expectedLoader_;   // from our navigate reply
    std::string committedLoader_;  // committed since the current load began
    std::set<std::string> finishedLoaders_;  // load events seen before the reply named them
    bool awaitingReply_ = false;
    bool startedSeen_ = false;
    bool stoppedAfterStart_ = false;
    bool failed_ = false;
    bool docReady_ = true;
    bool reissue_ = false;
    int hops_ = 0;
    Millis loadStart_ = 0;
    Millis committedAt_ = 0;
    Millis completedAt_ = 0;
};

}  // namespace wkechr
