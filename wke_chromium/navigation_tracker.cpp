#include "navigation_tracker.h"

#include "engine_limits.h"

namespace wkechr {

namespace {
std::string WithoutFragment(const std::string& url) { return url.substr(0, url.find('#')); }
}  // namespace

uint64_t NavigationTracker::Request(Millis now, const std::string& url, bool keepClock) {
    if (!keepClock || loadStart_ == 0 || state_ == State::Complete) loadStart_ = now;
    ++seq_;
    state_ = State::Loading;
    requestedUrl_ = url;
    expectedLoader_.clear();
    committedLoader_.clear();
    finishedLoaders_.clear();
    awaitingReply_ = true;
    startedSeen_ = false;
    stoppedAfterStart_ = false;
    failed_ = false;
    docReady_ = false;
    reissue_ = false;
    hops_ = 0;
    committedAt_ = now;
    return seq_;
}

void NavigationTracker::RequestFailed(uint64_t seq, Millis now) {
    if (seq == seq_ && state_ == State::Loading) Complete(now, true);
}

void NavigationTracker::NavigateReplied(uint64_t seq, Millis now, Reply reply, const std::string& loaderId,
                                        const std::string& errorText) {
    if (seq != seq_ || state_ != State::Loading || !awaitingReply_) return;
    awaitingReply_ = false;
    switch (reply) {
    case Reply::Lost: return TargetLost(now);
    case Reply::Error: return Complete(now, true);
    case Reply::Accepted:
        if (stoppedAfterStart_) Complete(now, failed_);
        return;
    case Reply::Ok: break;
    }
    if (!errorText.empty()) {
        failed_ = true;
        committedAt_ = now;  // the error page gets its grace from here
    }
    if (loaderId.empty()) return Complete(now, failed_);  // same document, or nothing that will commit
    expectedLoader_ = loaderId;
    // Its load ended before the answer came, or it stopped without committing (a download).
    if (finishedLoaders_.count(loaderId) || (stoppedAfterStart_ && committedLoader_ != loaderId)) Complete(now, failed_);
}

void NavigationTracker::FrameStartedLoading(Millis now) {
    (void)now;
    startedSeen_ = true;
}

void NavigationTracker::FrameStartedNavigating(Millis now, const std::string& url, bool reload) {
    if (state_ == State::Loading) return;
    const bool settled = now - completedAt_ >= kSettledMs;
    const bool refresh = reload || WithoutFragment(url) == WithoutFragment(committedUrl_);
    if (!settled && (refresh || hops_ >= kFollowedHops)) {
        completedAt_ = now;  // a page that keeps navigating has not settled
        return;
    }
    if (settled) {
        hops_ = 0;
        loadStart_ = now;
    }
    ++hops_;
    state_ = State::Loading;
    expectedLoader_.clear();
    committedLoader_.clear();
    awaitingReply_ = false;
    startedSeen_ = true;
    stoppedAfterStart_ = false;
    failed_ = false;
    docReady_ = false;
    committedAt_ = now;
}

void NavigationTracker::FrameNavigated(Millis now, const std::string& loaderId, const std::string& url) {
    committedUrl_ = url;
    if (state_ != State::Loading) return;
    // Before our answer names its loader, only a document at the address we asked for is ours: a
    // load we replaced may still commit.
    if (awaitingReply_ && expectedLoader_.empty() && WithoutFragment(url) != WithoutFragment(requestedUrl_)) return;
    if (!committedLoader_.empty() && loaderId != committedLoader_) {
        // The page replaced the document of this load by itself before it finished (a redirect,
        // a refresh of 0 s): a few such hops are followed, a loop ends the load with what showed.
        expectedLoader_.clear();
        failed_ = false;
        if (++hops_ > kFollowedHops) {
            committedLoader_ = loaderId;
            return Complete(now, OnErrorPage());
        }
    }
    committedLoader_ = loaderId;
    committedAt_ = now;
    if (OnErrorPage()) failed_ = true;
}

bool NavigationTracker::Counts(const std::string& loaderId) const {
    if (!expectedLoader_.empty()) return loaderId == expectedLoader_;
    return !committedLoader_.empty() && loaderId == committedLoader_;
}

void NavigationTracker::DomContentLoaded(Millis now, const std::string& loaderId) {
    (void)now;
    if (state_ == State::Loading && Counts(loaderId)) docReady_ = true;
}

void NavigationTracker::LoadEvent(Millis now, const std::string& loaderId) {
    if (finishedLoaders_.size() > 32) finishedLoaders_.clear();
    finishedLoaders_.insert(loaderId);
    if (state_ == State::Loading && Counts(loaderId)) Complete(now, failed_);
}

void NavigationTracker::FrameStoppedLoading(Millis now) {
    // Only a stop of a load that started since our request: a load it replaced may stop late.
    if (state_ != State::Loading || !startedSeen_ || reissue_) return;
    if (awaitingReply_)
        stoppedAfterStart_ = true;
    else
        Complete(now, failed_);
}

void NavigationTracker::NavigatedWithinDocument(Millis now) {
    if (state_ == State::Loading && !startedSeen_ && !awaitingReply_ && !reissue_) Complete(now, false);
}

void NavigationTracker::TargetLost(Millis now) {
    if (reissue_) return;
    if (requestedUrl_.empty()) {
        if (state_ == State::Loading) Complete(now, true);
        return;
    }
    if (state_ == State::Complete) loadStart_ = now;
    state_ = State::Loading;
    reissue_ = true;
    awaitingReply_ = false;
    docReady_ = false;
}

void NavigationTracker::Stop(Millis now) {
    if (state_ == State::Loading) Complete(now, !docReady_);
}

NavigationTracker::State NavigationTracker::Query(Millis now) {
    if (state_ != State::Loading) return state_;
    if (now - loadStart_ >= limits::kLoadLimitMs) {
        Complete(now, !docReady_ || reissue_);
    } else if (failed_ && !awaitingReply_ && now - committedAt_ >= limits::kErrorPageGraceMs) {
        Complete(now, true);
    }
    return state_;
}

void NavigationTracker::Complete(Millis now, bool failed) {
    state_ = State::Complete;
    failed_ = failed;
    if (!failed) docReady_ = true;
    reissue_ = false;
    awaitingReply_ = false;
    completedAt_ = now;
}

}  // namespace wkechr
