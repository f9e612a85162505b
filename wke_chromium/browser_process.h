// The browser process: finding a Chromium-family browser, starting it headless with a private
// profile and a debugging endpoint on loopback, and ending it. Its life never outlasts the
// program's: on Windows a job object ends it with the program, under Wine (a Linux browser) a
// small watcher started with it ends its whole process group within seconds of the program's end.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "deadline.h"
#include "devtools_port.h"
#include "scoped.h"

namespace wkechr {

// Names another browser executable (a Windows path, or under Wine also a Linux path).
inline constexpr wchar_t kBrowserVariable[] = L"WKE_BROWSER";

bool IsWine();
// The path the browser itself understands: under Wine the Linux path of a Windows path.
std::wstring BrowserSidePath(const std::wstring& windowsPath);
// Whether a file exists, for a Windows path or (under Wine) a Linux path.
bool BrowserFileExists(const std::wstring& path);

struct BrowserSearch {
    std::wstring found;                 // empty when none
    std::vector<std::wstring> places;   // everything that was looked at, in order
    bool fromVariable = false;
};
BrowserSearch FindBrowser();

class BrowserProcess {
public:
    BrowserProcess() = default;
    ~BrowserProcess();
    BrowserProcess(const BrowserProcess&) = delete;
    BrowserProcess& operator=(const BrowserProcess&) = delete;

    // Makes a fresh profile folder under the temp folder, starts the browser and waits for its
    // endpoint until `deadline`. On failure nothing is left running and `error` says why.
    bool Start(const std::wstring& executable, Deadline deadline, std::wstring& error);
    bool Start(const std::wstring& executable, int timeoutMs, std::wstring& error) {
        return Start(executable, Deadline::In(timeoutMs), error);
    }
    int Port() const { return port_; }
    const std::string& EndpointPath() const { return endpointPath_; }
    const std::wstring& ProfileFolder() const { return profile_; }

    // The browser's own process id (under Wine its Linux id), known from the start; the protocol's
    // answer may still be given, for a browser whose start did not tell it.
    void SetPid(DWORD pid);
    DWORD Pid() const { return pid_; }
    // Whether a watcher ends the browser with the program (under Wine), and then removes the profile.
    bool Watched() const { return watched_; }

    // Waits for the process to end by itself.
    bool WaitForExit(int timeoutMs) { return WaitForExit(Deadline::In(timeoutMs)); }
    bool WaitForExit(Deadline deadline);
    // Ends the process and all it started now, and waits (bounded) until it is gone.
    void Kill();
    // The fast, bounded stop for closing: the browser, already asked to close, may end by itself
    // until `closeBy`; then its whole group is ended. Returns within about limits::kEndBrowserMs
    // after `closeBy`, without waiting for the profile's removal when the watcher does it (on
    // Windows the profile gets a brief removal attempt here).
    void Stop(Deadline closeBy);
    // Kill if still running, then remove the profile folder.
    void Cleanup();
    bool Running() const;

private:
    void EndNow(Deadline deadline);
    void LearnLinuxPid();
    void Forget();

    ScopedHandle process_;
    ScopedHandle job_;
    ScopedFile hostMark_;  // held open for the watcher to find this process by
    bool linux_ = false;   // a Linux browser under Wine: reached by its Linux process id
    bool watched_ = false;  // started by the watcher, as the leader of its own process group
    uint64_t startTime_ = 0;  // the Linux process' start time, against a reused id
    DWORD pid_ = 0;
    int port_ = 0;
    std::string endpointPath_;
    std::wstring profile_;
};

// Ends a process by id: TerminateProcess on Windows, /bin/kill under Wine (a Linux process).
void KillProcessById(DWORD pid);
// Whether a process id is alive (under Wine: a Linux process that is not a zombie).
bool ProcessAlive(DWORD pid);
// Removes a folder and everything in it; retries briefly while files are still held.
bool RemoveFolder(const std::wstring& folder, int timeoutMs);

}  // namespace wkechr
