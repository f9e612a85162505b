// The browser process: finding a Chromium-family browser, starting it headless with a private
// profile and a debugging endpoint on loopback, and ending it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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
    // endpoint. On failure nothing is left running and `error` says why.
    bool Start(const std::wstring& executable, int timeoutMs, std::wstring& error);
    int Port() const { return port_; }
    const std::string& EndpointPath() const { return endpointPath_; }
    const std::wstring& ProfileFolder() const { return profile_; }

    // The browser's own process id, learned from the protocol; under Wine the only way to reach it.
    void SetPid(DWORD pid) { pid_ = pid; }
    DWORD Pid() const { return pid_; }

    // Waits up to timeoutMs for the process to end by itself.
    bool WaitForExit(int timeoutMs);
    // Ends the process (and, on Windows, its children) now.
    void Kill();
    // Kill if still running, then remove the profile folder.
    void Cleanup();
    bool Running() const;

private:
    ScopedHandle process_;
    ScopedHandle job_;
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
