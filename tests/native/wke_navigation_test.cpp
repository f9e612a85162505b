// The navigation tracker against event orders the browser produces, scripted with a fake clock.
#include <gtest/gtest.h>

#include "engine_limits.h"
#include "navigation_tracker.h"

using namespace wkechr;
using Reply = NavigationTracker::Reply;

namespace {

// "L7", "http://127.0.0.1/p7": built by appending (GCC 12 warns falsely about "L" + string).
std::string Id(const char* prefix, int i) {
    std::string id = prefix;
    id += std::to_string(i);
    return id;
}

// A tracker with a clock the test moves.
struct Script {
    NavigationTracker t;
    Millis now = 1000;

    uint64_t Request(const std::string& url = "http://127.0.0.1/a") { return t.Request(now, url); }
    // A whole ordinary load of `loader`: started, committed, DOMContentLoaded, load, stopped.
    void Load(const std::string& loader, const std::string& url = "http://127.0.0.1/a") {
        t.FrameStartedLoading(now);
        t.FrameNavigated(now, loader, url);
        t.DomContentLoaded(now, loader);
        t.LoadEvent(now, loader);
        t.FrameStoppedLoading(now);
    }
    bool Complete() { return t.Query(now) == NavigationTracker::State::Complete; }
};

}  // namespace

TEST(NavigationTracker, OrdinaryLoadsInEitherOrderOfReplyAndEvents) {
    {
        Script s;  // the reply first
        auto seq = s.Request();
        s.t.NavigateReplied(seq, s.now, Reply::Ok, "L1");
        EXPECT_FALSE(s.Complete());
        s.Load("L1");
        EXPECT_TRUE(s.Complete());
        EXPECT_TRUE(s.t.Loaded(s.now));
        EXPECT_TRUE(s.t.DocumentReady(s.now));
    }
    {
        Script s;  // the load event before the navigate reply
        auto seq = s.Request();
        s.t.FrameStartedLoading(s.now);
        s.t.FrameNavigated(s.now, "L1", "http://127.0.0.1/a");
        s.t.LoadEvent(s.now, "L1");
        EXPECT_TRUE(s.Complete());  // the committed loader is ours
        s.t.NavigateReplied(seq, s.now, Reply::Ok, "L1");
        EXPECT_TRUE(s.t.Loaded(s.now));
    }
    {
        Script s;  // load and stop, then the reply naming the loader that already finished
        auto seq = s.Request();
        s.t.LoadEvent(s.now, "L1");  // no commit seen (events of another session order)
        EXPECT_FALSE(s.Complete());
        s.t.NavigateReplied(seq, s.now, Reply::Ok, "L1");
        EXPECT_TRUE(s.t.Loaded(s.now));
    }
}

TEST(NavigationTracker, ASupersededNavigationDoesNotCompleteItsSuccessor) {
    Script s;
    auto first = s.Request("http://127.0.0.1/a");
    auto second = s.Request("http://127.0.0.1/b");
    s.t.NavigateReplied(first, s.now, Reply::Ok, "LA");  // late answer to the old request
    EXPECT_FALSE(s.Complete());
    s.t.NavigateReplied(second, s.now, Reply::Ok, "LB");
    s.t.LoadEvent(s.now, "LA");
    s.t.FrameStoppedLoading(s.now);  // the old load stopping
    EXPECT_FALSE(s.Complete());
    s.Load("LB", "http://127.0.0.1/b");
    EXPECT_TRUE(s.t.Loaded(s.now));
    EXPECT_EQ(s.t.RequestedUrl(), "http://127.0.0.1/b");

    // The page's own navigation (a refresh in flight) commits and loads before our answer came.
    auto third = s.Request("http://127.0.0.1/c");
    s.t.FrameNavigated(s.now, "LR", "http://127.0.0.1/b");
    s.t.LoadEvent(s.now, "LR");
    EXPECT_FALSE(s.Complete()) << "the old page's reload is not the page asked for";
    s.t.NavigateReplied(third, s.now, Reply::Ok, "LC");
    s.Load("LC", "http://127.0.0.1/c");
    EXPECT_TRUE(s.t.Loaded(s.now));
}

TEST(NavigationTracker, ASelfRefreshingPageStaysCompleteOnceOurLoadEnded) {
    Script s;
    auto seq = s.Request();
    s.t.NavigateReplied(seq, s.now, Reply::Ok, "L0");
    s.Load("L0");
    ASSERT_TRUE(s.Complete());
    // The page reloads itself again and again, a few milliseconds apart.
    int loadingAnswers = 0;
    for (int i = 1; i <= 200; ++i) {
        s.now += 5;
        s.t.FrameStartedNavigating(s.now, "http://127.0.0.1/a", i % 2 == 0);
        s.t.FrameStartedLoading(s.now);
        if (!s.Complete()) ++loadingAnswers;
        s.t.FrameNavigated(s.now, Id("L", i), "http://127.0.0.1/a");
        s.t.LoadEvent(s.now, Id("L", i));
    }
    EXPECT_EQ(loadingAnswers, 0) << "a refresh of the same address is not followed";
    EXPECT_TRUE(s.Complete());
    EXPECT_TRUE(s.t.Loaded(s.now));
}

TEST(NavigationTracker, APageThatRefreshesBeforeItsLoadEventEndsAfterAFewHops) {
    Script s;
    auto seq = s.Request();
    s.t.NavigateReplied(seq, s.now, Reply::Ok, "L0");
    s.t.FrameStartedLoading(s.now);
    int commits = 0;
    for (int i = 0; i < 50 && !s.Complete(); ++i) {
        s.now += 5;
        s.t.FrameNavigated(s.now, Id("L", i), "http://127.0.0.1/a");
        s.t.DomContentLoaded(s.now, Id("L", i));  // never a load event: the next one starts first
        ++commits;
    }
    EXPECT_TRUE(s.t.Loaded(s.now));
    EXPECT_EQ(commits, NavigationTracker::kFollowedHops + 2);
    // Still complete while it goes on.
    s.t.FrameNavigated(s.now, "L99", "http://127.0.0.1/a");
    s.t.FrameStartedLoading(s.now);
    EXPECT_TRUE(s.Complete());
}

TEST(NavigationTracker, ARedirectRightAfterTheLoadIsFollowed) {
    Script s;
    auto seq = s.Request("http://127.0.0.1/old");
    s.t.NavigateReplied(seq, s.now, Reply::Ok, "L1");
    s.Load("L1", "http://127.0.0.1/old");
    s.now += 10;
    s.t.FrameStartedNavigating(s.now, "http://127.0.0.1/new", false);
    EXPECT_FALSE(s.Complete());
    s.Load("L2", "http://127.0.0.1/new");
    EXPECT_TRUE(s.t.Loaded(s.now));
    EXPECT_EQ(s.t.CommittedUrl(), "http://127.0.0.1/new");
    // A chain that never ends is followed only so far.
    int followed = 0;
    for (int i = 3; i < 20; ++i) {
        s.now += 10;
        s.t.FrameStartedNavigating(s.now, Id("http://127.0.0.1/p", i), false);
        if (!s.Complete()) ++followed;
        s.Load(Id("L", i), Id("http://127.0.0.1/p", i));
    }
    EXPECT_EQ(followed, NavigationTracker::kFollowedHops - 1);
    // A page that settled and then navigates (a click) is loading again.
    s.now += NavigationTracker::kSettledMs;
    s.t.FrameStartedNavigating(s.now, "http://127.0.0.1/clicked", false);
    EXPECT_FALSE(s.Complete());
}

TEST(NavigationTracker, ACrashMidLoadWaitsForTheLoadAskedForAgain) {
    Script s;
    auto seq = s.Request("http://127.0.0.1/page");
    s.t.FrameStartedLoading(s.now);
    s.t.TargetLost(s.now);
    s.t.NavigateReplied(seq, s.now, Reply::Lost);
    EXPECT_FALSE(s.Complete()) << "the page was never shown: not complete";
    EXPECT_TRUE(s.t.NeedsReissue());
    s.now += 5000;
    auto again = s.t.Request(s.now, s.t.RequestedUrl(), true);
    EXPECT_FALSE(s.t.NeedsReissue());
    EXPECT_FALSE(s.Complete());
    s.t.NavigateReplied(again, s.now, Reply::Ok, "L9");
    s.Load("L9", "http://127.0.0.1/page");
    EXPECT_TRUE(s.t.Loaded(s.now));

    // Lost after the load ended: not complete again until the page is back.
    s.t.TargetLost(s.now);
    EXPECT_FALSE(s.Complete());
    EXPECT_TRUE(s.t.NeedsReissue());

    // A browser that never comes back: the limit still ends the wait, as a failure.
    s.now += limits::kLoadLimitMs;
    EXPECT_TRUE(s.Complete());
    EXPECT_TRUE(s.t.Failed(s.now));
    EXPECT_FALSE(s.t.NeedsReissue());
}

TEST(NavigationTracker, FailuresAndLimits) {
    {
        Script s;  // an error page commits, its load fires: failed
        auto seq = s.Request("http://127.0.0.1:1/");
        s.t.NavigateReplied(seq, s.now, Reply::Ok, "LE", "net::ERR_CONNECTION_REFUSED");
        s.t.FrameStartedLoading(s.now);
        s.t.FrameNavigated(s.now, "LE", "chrome-error://chromewebdata/");
        s.t.LoadEvent(s.now, "LE");
        EXPECT_TRUE(s.t.Failed(s.now));
        EXPECT_TRUE(s.t.OnErrorPage());
    }
    {
        Script s;  // an error page that never reports its load gets a grace, then fails
        auto seq = s.Request();
        s.t.NavigateReplied(seq, s.now, Reply::Ok, "LE", "net::ERR_NAME_NOT_RESOLVED");
        EXPECT_FALSE(s.Complete());
        s.now += limits::kErrorPageGraceMs;
        EXPECT_TRUE(s.t.Failed(s.now));
    }
    {
        Script s;  // a download: the navigation stops without committing, before or after the reply
        auto seq = s.Request("http://127.0.0.1/file.zip");
        s.t.FrameStartedLoading(s.now);
        s.t.FrameStoppedLoading(s.now);
        EXPECT_FALSE(s.Complete());
        s.t.NavigateReplied(seq, s.now, Reply::Ok, "LD");
        EXPECT_TRUE(s.Complete());
    }
    {
        Script s;  // a download that never even stops: the load limit ends it
        auto seq = s.Request("http://127.0.0.1/file.zip");
        s.t.NavigateReplied(seq, s.now, Reply::Ok, "LD");
        s.now += limits::kLoadLimitMs - 1;
        EXPECT_FALSE(s.Complete());
        s.now += 1;
        EXPECT_TRUE(s.t.Failed(s.now)) << "no document was ever ready";
    }
    {
        Script s;  // a load that reached DOMContentLoaded counts as loaded at the limit
        auto seq = s.Request();
        s.t.NavigateReplied(seq, s.now, Reply::Ok, "L1");
        s.t.FrameNavigated(s.now, "L1", "http://127.0.0.1/a");
        s.t.DomContentLoaded(s.now, "L1");
        EXPECT_TRUE(s.t.DocumentReady(s.now));
        s.now += limits::kLoadLimitMs;
        EXPECT_TRUE(s.t.Loaded(s.now));
    }
    {
        Script s;  // no browser to send to; a protocol error; a same-document navigation
        s.t.RequestFailed(s.Request(), s.now);
        EXPECT_TRUE(s.t.Failed(s.now));
        s.t.NavigateReplied(s.Request(), s.now, Reply::Error);
        EXPECT_TRUE(s.t.Failed(s.now));
        s.t.NavigateReplied(s.Request("http://127.0.0.1/a#x"), s.now, Reply::Ok, "");
        EXPECT_TRUE(s.t.Loaded(s.now));
    }
    {
        Script s;  // a reload of a stuck load keeps its clock; Stop ends it
        s.Request();
        s.now += limits::kLoadLimitMs - 100;
        s.t.Request(s.now, s.t.RequestedUrl(), true);
        s.now += 100;
        EXPECT_TRUE(s.Complete());
        s.Request();
        s.t.Stop(s.now);
        EXPECT_TRUE(s.t.Failed(s.now));
    }
}
