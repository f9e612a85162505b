// The browser's watcher and the Linux process facts it rests on. The watcher's script runs here for
// real, with stand-ins: a sleeping host, and a "browser" that starts a child of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "process_watch.h"

#if defined(__linux__)
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

using namespace wkechr;

TEST(ProcStat, ParsesStateGroupAndStartTime) {
    const std::string tail = " 1 4242 4242 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 987654 1000 10\n";
    struct Case {
        std::string text;
        bool ok;
        long pid;
        char state;
        uint64_t start;
    } cases[] = {
        {"4242 (sh) S" + tail, true, 4242, 'S', 987654},
        {"17 (Web Content) R" + tail, true, 17, 'R', 987654},
        {"9 (a) (b) ) Z" + tail, true, 9, 'Z', 987654},  // a name holding ") " itself
        {"9 (x) S 1 4242 4242", false, 0, 0, 0},          // cut short
        {"(x) S" + tail, false, 0, 0, 0},
        {"abc (x) S" + tail, false, 0, 0, 0},
        {"9 x S" + tail, false, 0, 0, 0},
        {"", false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        ProcStat stat;
        ASSERT_EQ(ParseProcStat(c.text, stat), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(stat.pid, c.pid);
        EXPECT_EQ(stat.state, c.state);
        EXPECT_EQ(stat.processGroup, 4242);
        EXPECT_EQ(stat.startTime, c.start);
        EXPECT_EQ(stat.Ended(), c.state == 'Z');
    }
#if defined(__linux__)
    std::ifstream self("/proc/self/stat");
    std::string line;
    std::getline(self, line);
    ProcStat own;
    ASSERT_TRUE(ParseProcStat(line, own)) << line;
    EXPECT_EQ(own.pid, static_cast<long>(getpid()));
    EXPECT_EQ(own.processGroup, static_cast<long>(getpgrp()));
    EXPECT_FALSE(own.Ended());
#endif
}

TEST(PidFile, OnlyAWholeLine) {
    long pid = 0;
    EXPECT_TRUE(ParsePidFile("1234\n", pid));
    EXPECT_EQ(pid, 1234);
    for (const char* bad : {"", "1234", "12a4\n", "0\n", "-5\n", "99999999999999999999999\n"})
        EXPECT_FALSE(ParsePidFile(bad, pid)) << bad;
}

namespace {

// The usual Windows split of a command line (every argument by the rules after the first).
std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> out;
    std::string argument;
    bool inArgument = false, quoted = false;
    size_t backslashes = 0;
    for (char c : line) {
        if (c == '\\') {
            ++backslashes;
            inArgument = true;
            continue;
        }
        if (c == '"') {
            argument.append(backslashes / 2, '\\');
            if (backslashes % 2) argument += '"';
            else quoted = !quoted;
            backslashes = 0;
            inArgument = true;
            continue;
        }
        argument.append(backslashes, '\\');
        backslashes = 0;
        if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument) out.push_back(argument);
            argument.clear();
            inArgument = false;
            continue;
        }
        argument += c;
        inArgument = true;
    }
    argument.append(backslashes, '\\');
    if (inArgument) out.push_back(argument);
    return out;
}

}  // namespace

TEST(CommandLine, EveryArgumentComesBackWhole) {
    const std::vector<std::string> arguments = {
        "/bin/sh", "plain", "", "two words", "tab\there", "quote\"inside", "trailing\\", "C:\\Temp\\a b\\",
        "\\\\\"", "line\nbreak", "$x 'single' ${22}", "中文"};
    EXPECT_EQ(SplitCommandLine(JoinCommandLine(arguments)), arguments);

    WatchPlan plan;
    plan.hostPid = 77;
    plan.hostStartTime = 123456;
    plan.folder = "/tmp/wkb 1";
    plan.command = {"/usr/bin/chromium", "--user-data-dir=/tmp/wkb 1", "about:blank"};
    const std::vector<std::string> watcher = WatcherArguments(plan);
    EXPECT_EQ(SplitCommandLine(JoinCommandLine(watcher)), watcher);
    ASSERT_EQ(watcher.size(), 10u);
    EXPECT_EQ(watcher[0], "/bin/sh");
    EXPECT_EQ(watcher[1], "-c");
    EXPECT_EQ(std::vector<std::string>(watcher.begin() + 4, watcher.end()),
              (std::vector<std::string>{"77", "123456", "/tmp/wkb 1", "/usr/bin/chromium", "--user-data-dir=/tmp/wkb 1",
                                        "about:blank"}));
}

// The watcher itself, with real Linux processes (the Windows build of this program has none).
#if defined(__linux__)
namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

bool Running(long pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    ProcStat stat;
    return std::getline(file, line) && ParseProcStat(line, stat) && !stat.Ended();
}

// Members of a process group that still run (zombies waiting for a reaper do not count).
int GroupRunning(long group) {
    int running = 0;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    while (dirent* entry = proc ? readdir(proc.get()) : nullptr) {
        std::ifstream file(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        ProcStat stat;
        if (std::getline(file, line) && ParseProcStat(line, stat) && stat.processGroup == group && !stat.Ended())
            ++running;
    }
    return running;
}

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// Polls until `done` holds or `ms` pass.
template <typename F>
bool Within(int ms, F done) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool Reaped(pid_t pid, int ms) {
    return Within(ms, [&] { return waitpid(pid, nullptr, WNOHANG) == pid; });
}

}  // namespace

TEST(Watcher, EndsTheBrowsersGroupWithTheHostAndItselfWithTheBrowser) {
    // HostByMark: the host is named by the mark file it holds open, not by its id.
    enum class Ends { Host, HostByMark, Browser, HostIdReused };
    for (Ends ends : {Ends::Host, Ends::HostByMark, Ends::Browser, Ends::HostIdReused}) {
        SCOPED_TRACE(static_cast<int>(ends));
        char pattern[] = "/tmp/wke-watch-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        const std::string folder = pattern;
        const std::string mark = folder + "/" + kHostMarkFile;
        std::ofstream(mark) << "host\n";
        const pid_t host = Spawn({"/bin/sh", "-c", "exec sleep 60 <\"$0\"", mark});
        ASSERT_GT(host, 0);
        std::ifstream hostStat("/proc/" + std::to_string(host) + "/stat");
        std::string line;
        ProcStat hostInfo;
        ASSERT_TRUE(std::getline(hostStat, line) && ParseProcStat(line, hostInfo));

        WatchPlan plan;
        plan.hostPid = ends == Ends::HostByMark ? 0 : host;
        plan.hostStartTime = ends == Ends::HostIdReused ? hostInfo.startTime + 1 : hostInfo.startTime;
        plan.folder = folder;
        // A browser that ignores TERM and has a child of its own in its group.
        const char* life = ends == Ends::Browser ? "sleep 1" : "sleep 60";
        plan.command = {"/bin/sh", "-c", std::string("trap '' TERM; sleep 60 & ") + life};
        const pid_t watcher = Spawn(WatcherArguments(plan));
        ASSERT_GT(watcher, 0);

        long browser = 0;
        ASSERT_TRUE(Within(5000, [&] {
            std::ifstream file(folder + "/" + kBrowserPidFile);
            std::stringstream text;
            text << file.rdbuf();
            return ParsePidFile(text.str(), browser);
        }));
        // (With a reused id the host counts as gone at once, and the browser may be gone already.)
        if (ends != Ends::HostIdReused) {
            EXPECT_TRUE(Within(5000, [&] { return getpgid(static_cast<pid_t>(browser)) == browser; }))
                << "the browser leads a group of its own";
            EXPECT_NE(getpgid(watcher), browser) << "the watcher is outside that group";
        }

        if (ends == Ends::Host || ends == Ends::HostByMark) kill(host, SIGKILL);
        const auto since = Clock::now();
        EXPECT_TRUE(Reaped(watcher, 8000)) << "the watcher did not end";
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
        printf("watcher ended %lld ms after the %s\n", static_cast<long long>(ms),
               ends == Ends::Browser ? "start (the browser's own end)" : "host's end");
        EXPECT_TRUE(Within(2000, [&] { return GroupRunning(browser) == 0; }))
            << "something of the browser's group is left";
        EXPECT_FALSE(Exists(folder)) << "the profile was not removed";
        EXPECT_EQ(Running(host), ends == Ends::Browser || ends == Ends::HostIdReused)
            << "the host is none of the watcher's business";
        kill(host, SIGKILL);
        waitpid(host, nullptr, 0);
        kill(-static_cast<pid_t>(browser), SIGKILL);
        if (watcher > 0 && waitpid(watcher, nullptr, WNOHANG) == 0) kill(watcher, SIGKILL), waitpid(watcher, nullptr, 0);
    }
}
#endif
