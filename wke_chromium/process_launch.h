// Starting helper processes and reaching Linux processes from inside Wine: the few system calls
// the browser's lifetime needs, each without waiting longer than it is told.
#pragma once

#include <windows.h>

#include <string>

#include "process_watch.h"
#include "scoped.h"

namespace wkechr {

struct Launched {
    ScopedHandle process;
    ScopedHandle thread;
    DWORD pid = 0;
};

// Starts a program (under Wine possibly a Linux one) without waiting for it. It inherits nothing
// of this process but `output`, when given, as its standard handles. `flags` adds creation flags.
bool Launch(const std::wstring& commandLine, const wchar_t* environment = nullptr, HANDLE output = nullptr,
            DWORD flags = 0, Launched* launched = nullptr);

// Reads at most `limit` bytes of a file that others may be writing.
bool ReadSmallFile(const std::wstring& path, std::string& out, size_t limit = 65536);

// A Linux path as Wine's Z: drive shows it.
std::wstring LinuxPathAsWindows(const std::wstring& linuxPath);

// The stat line of a Linux process, under Wine. (Not of this process: under Wine the server opens
// files, so /proc/self is the server's.)
bool ReadLinuxStat(long pid, ProcStat& out);
// Alive, not a zombie, and (startTime non-zero) the same process that had that start time.
bool LinuxProcessRunning(long pid, uint64_t startTime = 0);
// Sends a signal ("TERM", "KILL") to a Linux process, or to its whole group; does not wait.
void SignalLinux(long pid, const wchar_t* signal, bool group);

bool RunningAsLinuxRoot();

}  // namespace wkechr
