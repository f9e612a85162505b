// Linux processes seen from a Windows program under Wine, through the Z: drive's /proc: the
// browser the engine started is one of them and no Windows call can reach it.
#pragma once

#include <windows.h>

#include <set>
#include <string>

namespace wketest {

bool UnderWine();
// Main browser processes (not its helpers): a command line holding --remote-debugging-port and
// no --type=, and, when the rig names its folder (QUORLANE_RIG_DIR), that folder too.
std::set<DWORD> BrowserPids();
bool LinuxProcessAlive(DWORD pid);  // a zombie counts as ended
// /bin/kill -KILL, run as a Linux program; true once the process has ended (within timeoutMs).
bool KillLinuxProcess(DWORD pid, DWORD timeoutMs = 5000);

}  // namespace wketest
