// The pure half of keeping the browser's life inside the program's: reading a Linux process'
// stat line, and the small shell watcher that starts the browser in a process group of its own
// and ends that group when the program's process is gone (under Wine nothing else would).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wkechr {

// The fields of /proc/<pid>/stat this engine uses.
struct ProcStat {
    long pid = 0;
    char state = 0;
    long processGroup = 0;
    uint64_t startTime = 0;  // clock ticks after boot: tells a process from a later one with its id

    // A zombie, or on its way out: no longer running anything.
    bool Ended() const { return state == 'Z' || state == 'X' || state == 'x'; }
};

// Parses one stat line; false when the text is not one (truncated, empty, not numbers).
bool ParseProcStat(std::string_view text, ProcStat& out);

// The file in the watched folder where the watcher writes the browser's process id (= its group).
inline constexpr char kBrowserPidFile[] = "browser.pid";
// A file in the watched folder that the host holds open: under Wine the host cannot learn its own
// Linux id (the Wine server opens files for it), so the watcher finds it by this file.
inline constexpr char kHostMarkFile[] = "host.lock";
// The browser's own output, in the same folder.
inline constexpr char kBrowserOutputFile[] = "browser-output.txt";

// A positive process id followed by a line end; false for anything else (a file still being written).
bool ParsePidFile(std::string_view text, long& pid);

struct WatchPlan {
    // The process whose end ends the browser; pid 0: the one holding the folder's mark file open
    // (when none does, only the browser itself is watched).
    long hostPid = 0;
    uint64_t hostStartTime = 0;
    // The browser's profile (Linux path): holds the pid and output files; removed when all is over.
    std::string folder;
    std::vector<std::string> command;  // the browser and its arguments
};

// The watcher as an argument vector: /bin/sh runs it, starts the browser as the leader of a new
// session, writes its id, polls both processes, ends the browser's group once the host is gone
// (TERM, then KILL a second later), reaps it, removes the folder and ends itself.
std::vector<std::string> WatcherArguments(const WatchPlan& plan);

// One argument quoted so that the usual Windows command-line split gives it back unchanged.
std::string QuoteArgument(std::string_view argument);
// Arguments joined into one command line for CreateProcess.
std::string JoinCommandLine(const std::vector<std::string>& arguments);

}  // namespace wkechr
