#include "browser_process.h"

#include <algorithm>

#include "engine_limits.h"
#include "module_life.h"
#include "process_launch.h"
#include "process_watch.h"
#include "profile_folder.h"
#include "text.h"

namespace wkechr {

namespace {

std::vector<std::wstring> BrowserArguments(const std::wstring& profile, bool wine) {
    std::vector<std::wstring> arguments = {
        L"--headless=new", L"--disable-gpu", L"--no-first-run", L"--no-default-browser-check",
        L"--disable-background-networking", L"--disable-component-update", L"--disable-sync",
        L"--disable-extensions", L"--disable-default-apps", L"--hide-scrollbars", L"--password-store=basic",
        L"--remote-debugging-port=0", L"--user-data-dir=" + BrowserSidePath(profile)};
    if (wine) {
        arguments.push_back(L"--disable-dev-shm-usage");
        if (RunningAsLinuxRoot()) arguments.push_back(L"--no-sandbox");
    }
    arguments.push_back(L"about:blank");
    return arguments;
}

// This process' environment; under Wine the browser's own temporary files (its singleton socket
// folder) go into the profile, so removing the profile leaves nothing behind even after a kill.
std::wstring BrowserEnvironment(const std::wstring& profile, bool wine) {
    const std::wstring tmpFolder = BrowserSidePath(profile);
    const size_t kSocketTail = 48;  // "/org.chromium.Chromium.XXXXXX/SingletonSocket"
    const bool ownTmp = wine && tmpFolder.size() + kSocketTail < 104;
    std::wstring environment;
    LPWCH block = GetEnvironmentStringsW();
    for (LPWCH p = block; p && *p; p += wcslen(p) + 1) {
        std::wstring entry = p;
        if (ownTmp && _wcsnicmp(entry.c_str(), L"TMPDIR=", 7) == 0) continue;
        environment += entry;
        environment += L'\0';
    }
    if (block) FreeEnvironmentStringsW(block);
    if (ownTmp) {
        environment += L"TMPDIR=" + tmpFolder;
        environment += L'\0';
    }
    environment += L'\0';
    return environment;
}

std::wstring CommandLine(const std::vector<std::string>& arguments) { return FromUtf8(JoinCommandLine(arguments)); }

void SleepAtMost(Millis ms, const Deadline& deadline) {
    Sleep(static_cast<DWORD>(std::clamp<Millis>(std::min(ms, deadline.RemainingMs()), 1, ms)));
}

}  // namespace

BrowserProcess::~BrowserProcess() {
    // At process exit nothing may wait or start processes; the watcher or the job ends the browser.
    if (ProcessEnding()) {
        process_.Release();
        job_.Release();
        hostMark_.Release();
        return;
    }
    Cleanup();
}

bool BrowserProcess::Start(const std::wstring& executable, Deadline deadline, std::wstring& error) {
    Cleanup();
    profile_ = MakeProfileFolder(error);
    if (profile_.empty()) return false;
    // From now on threads and processes depend on this module's code.
    KeepModuleLoaded();

    const bool wine = IsWine();
    linux_ = wine && !executable.empty() && executable[0] == L'/';
    std::vector<std::string> browser = {ToUtf8(executable)};
    for (const auto& argument : BrowserArguments(profile_, wine)) browser.push_back(ToUtf8(argument));
    const std::wstring environment = BrowserEnvironment(profile_, wine);

    bool started = false;
    if (linux_) {
        // The watcher starts the browser and tells its id through a file in the profile. It finds
        // this process by the mark file held open here: written to, so that this process (and not
        // only the Wine server) has it open on the Linux side.
        hostMark_.Reset(CreateFileW((profile_ + L"\\" + FromUtf8(kHostMarkFile)).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                    0, nullptr));
        DWORD written = 0;
        if (hostMark_) WriteFile(hostMark_.Get(), "host\n", 5, &written, nullptr);
        WatchPlan plan;
        plan.folder = ToUtf8(BrowserSidePath(profile_));
        plan.command = browser;
        started = Launch(CommandLine(WatcherArguments(plan)), environment.c_str());
        watched_ = started;
    } else {
        // Everything the browser starts ends with the engine, even if the program dies: it joins
        // the job before it runs.
        ScopedFile output(CreateFileW((profile_ + L"\\" + FromUtf8(kBrowserOutputFile)).c_str(),
                                      GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      CREATE_ALWAYS, 0, nullptr));
        Launched launched;
        started = Launch(CommandLine(browser), environment.c_str(), output.Get(), CREATE_SUSPENDED, &launched);
        if (started) {
            job_.Reset(CreateJobObjectW(nullptr, nullptr));
            if (job_) {
                JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
                limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
                SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
                AssignProcessToJobObject(job_.Get(), launched.process.Get());
            }
            ResumeThread(launched.thread.Get());
            process_ = std::move(launched.process);
            pid_ = launched.pid;
        }
    }
    if (!started) {
        error = L"could not start " + executable;
        Cleanup();
        return false;
    }

    const std::wstring portFile = profile_ + L"\\DevToolsActivePort";
    for (;;) {
        if (linux_ && pid_ == 0) LearnLinuxPid();
        std::string text;
        if (ReadSmallFile(portFile, text, 4096) && ParseDevToolsActivePort(text, port_, endpointPath_)) {
            if (linux_ && pid_ == 0) LearnLinuxPid();
            return true;
        }
        if ((process_ || pid_ != 0) && !Running()) {
            error = L"the browser exited at start: " + executable;
            break;
        }
        if (deadline.Passed()) {
            error = L"the browser did not open its debugging endpoint: " + executable;
            break;
        }
        SleepAtMost(50, deadline);
    }
    Cleanup();
    return false;
}

void BrowserProcess::LearnLinuxPid() {
    std::string text;
    long pid = 0;
    ProcStat stat;
    if (!ReadSmallFile(profile_ + L"\\" + FromUtf8(kBrowserPidFile), text, 64) || !ParsePidFile(text, pid)) return;
    // Its start time tells it from a later process that gets the same id.
    if (!ReadLinuxStat(pid, stat)) return;
    pid_ = static_cast<DWORD>(pid);
    startTime_ = stat.startTime;
}

void BrowserProcess::SetPid(DWORD pid) {
    if (pid == pid_) return;
    // The id learned at the start is the group's leader; the protocol's answer only fills a gap.
    if (watched_ && pid_ != 0) return;
    pid_ = pid;
    startTime_ = 0;
    if (linux_) {
        ProcStat stat;
        if (ReadLinuxStat(static_cast<long>(pid), stat)) startTime_ = stat.startTime;
    }
}

bool BrowserProcess::Running() const {
    if (process_) return WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
    if (linux_) return LinuxProcessRunning(static_cast<long>(pid_), startTime_);
    return pid_ != 0 && ProcessAlive(pid_);
}

bool BrowserProcess::WaitForExit(Deadline deadline) {
    if (process_) return WaitForSingleObject(process_.Get(), static_cast<DWORD>(deadline.RemainingMs())) == WAIT_OBJECT_0;
    while (Running()) {
        if (deadline.Passed()) return false;
        SleepAtMost(20, deadline);
    }
    return true;
}

// Ends the browser and everything it started; returns once it is gone or `deadline` passed.
void BrowserProcess::EndNow(Deadline deadline) {
    if (process_) {
        if (job_) TerminateJobObject(job_.Get(), 1);
        TerminateProcess(process_.Get(), 1);
        WaitForExit(deadline);
        return;
    }
    // What outlives a watched browser's leader in its group, the watcher ends.
    if (!Running()) return;
    if (linux_) {
        // Asked first: a browser that ends by itself removes its own singleton files.
        SignalLinux(static_cast<long>(pid_), L"TERM", watched_);
        if (WaitForExit(deadline.Within(limits::kTermGraceMs))) return;
        SignalLinux(static_cast<long>(pid_), L"KILL", watched_);
    } else {
        KillProcessById(pid_);
    }
    WaitForExit(deadline);
}

void BrowserProcess::Kill() { EndNow(Deadline::In(5000)); }

void BrowserProcess::Stop(Deadline closeBy) {
    if (linux_ && pid_ == 0) LearnLinuxPid();
    if (!WaitForExit(closeBy)) EndNow(Deadline::In(limits::kEndBrowserMs));
    else if (job_) TerminateJobObject(job_.Get(), 1);  // what it started, if anything outlived it
    // The watcher removes the profile once the group is gone; otherwise it is removed here, briefly.
    if (!watched_ && !profile_.empty()) RemoveFolder(profile_, 500);
    Forget();
}

void BrowserProcess::Cleanup() {
    if (linux_ && pid_ == 0) LearnLinuxPid();
    if (Running()) EndNow(Deadline::In(5000));
    hostMark_.Reset();
    if (!profile_.empty()) RemoveFolder(profile_, 5000);
    Forget();
}

void BrowserProcess::Forget() {
    hostMark_.Reset();
    process_.Reset();
    job_.Reset();
    profile_.clear();
    linux_ = false;
    watched_ = false;
    startTime_ = 0;
    pid_ = 0;
    port_ = 0;
    endpointPath_.clear();
}

}  // namespace wkechr
