// The browser's life inside the program's, under Wine with the real browser: killing the program
// leaves no process of its browser behind, closing its window ends it all, and the watcher that
// stands in for a job object ends a stand-in browser with a stand-in host, and itself with the
// browser. Linux processes are seen through Z:\proc.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "browser_process.h"
#include "loopback_server.h"
#include "process_launch.h"
#include "process_watch.h"
#include "tests/driver/driver.h"
#include "tests/driver/test_files.h"
#include "text.h"

namespace {

struct LinuxProcess {
    long pid = 0;
    wkechr::ProcStat stat;
    std::string commandLine;  // arguments joined by spaces
};

// Every running (not zombie) Linux process.
std::vector<LinuxProcess> LinuxProcesses() {
    std::vector<LinuxProcess> out;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &data);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
        wchar_t* end = nullptr;
        const long pid = wcstol(data.cFileName, &end, 10);
        if (pid <= 0 || *end) continue;
        LinuxProcess process;
        process.pid = pid;
        std::string text;
        if (!wkechr::ReadLinuxStat(pid, process.stat) || process.stat.Ended()) continue;
        if (!wkechr::ReadSmallFile(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\cmdline", text)) continue;
        for (char& c : text)
            if (c == '\0') c = ' ';
        process.commandLine = text;
        out.push_back(process);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return out;
}

std::vector<LinuxProcess> Carrying(const std::string& text) {
    std::vector<LinuxProcess> out;
    for (auto& process : LinuxProcesses())
        if (process.commandLine.find(text) != std::string::npos) out.push_back(process);
    return out;
}

std::string Describe(const std::vector<LinuxProcess>& processes) {
    std::string out;
    for (const auto& process : processes) out += "\n  " + std::to_string(process.pid) + " " + process.commandLine.substr(0, 160);
    return out;
}

// Polls every 100 ms until `done` holds or `ms` pass; the time it took, or -1.
template <typename F>
long long MsUntil(DWORD ms, F done) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (done()) return static_cast<long long>(GetTickCount64() - start);
        if (GetTickCount64() - start > ms) return -1;
        Sleep(100);
    }
}

// The Linux side of this prefix's temporary folder: the engine's profiles lie in it.
std::string LinuxTemp() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring folder = temp;
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return wkechr::ToUtf8(wkechr::BrowserSidePath(folder));
}

// The profile folders (Linux paths) of the browsers started from this prefix.
std::set<std::string> BrowserProfiles() {
    std::set<std::string> out;
    const std::string marker = "--user-data-dir=" + LinuxTemp() + "/";
    for (const auto& process : Carrying(marker)) {
        const size_t at = process.commandLine.find(marker);
        const size_t end = process.commandLine.find(' ', at);
        out.insert(process.commandLine.substr(at + 16, end == std::string::npos ? std::string::npos : end - at - 16));
    }
    return out;
}

// Quorlane with the Chromium-backed engine beside it, after one page went through a batch.
class ProgramWithPage : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddPage("/page.html", "<!DOCTYPE html><title>t</title><body style='background:#123456'>page</body>");
        ASSERT_TRUE(server.Start());
        before = BrowserProfiles();
        driver::LaunchOptions options;
        options.folder = driver::TestFolder();
        DWORD error = 0;
        program = driver::Program::Start(options, &error);
        ASSERT_TRUE(program) << "cannot start the program, error " << error;
        window = program->WaitForMainWindow(60000);
        ASSERT_NE(window, nullptr) << "no main window";
        HWND list = driver::ControlAt(window, L"Edit", 8, 36);
        HWND folder = driver::ControlAt(window, L"Edit", 80, 539);
        HWND start = driver::FindByText(window, L"开始任务", L"Button");
        ASSERT_TRUE(list && folder && start);
        ASSERT_TRUE(driver::SetText(list, driver::FromUtf8(server.Url("/page.html"))));
        ASSERT_TRUE(driver::SetText(folder, driver::FreshFolder(L"shots") + L"\\"));
        ASSERT_TRUE(driver::Click(start));
        std::optional<driver::MessageBoxInfo> box = program->WaitForMessageBox(L"完成！", 120000);
        ASSERT_TRUE(box) << "the batch did not finish";
        ASSERT_TRUE(driver::PressButton(box->window));
        for (const auto& profile : BrowserProfiles())
            if (!before.count(profile)) profiles.push_back(profile);
        ASSERT_EQ(profiles.size(), 1u) << "not one browser of the program's own";
        processes = Carrying(profiles[0]);
        printf("the browser's processes:%s\n", Describe(processes).c_str());
        // The browser, its helpers and the watcher.
        ASSERT_GE(processes.size(), 3u);
    }

    // Whether the profile is gone from the disk as well.
    bool ProfileRemoved() const {
        return GetFileAttributesW(wkechr::LinuxPathAsWindows(wkechr::FromUtf8(profiles[0])).c_str()) ==
               INVALID_FILE_ATTRIBUTES;
    }

    wketest::LoopbackServer server;
    std::set<std::string> before;
    std::optional<driver::Program> program;
    HWND window = nullptr;
    std::vector<std::string> profiles;
    std::vector<LinuxProcess> processes;
};

}  // namespace

TEST_F(ProgramWithPage, KillingTheProgramLeavesNoBrowserProcess) {
    ASSERT_TRUE(TerminateProcess(program->Handle(), 9));
    ASSERT_EQ(WaitForSingleObject(program->Handle(), 30000), WAIT_OBJECT_0);
    const long long ms = MsUntil(5000, [&] { return Carrying(profiles[0]).empty(); });
    printf("after the kill, the browser's processes were gone in %lld ms\n", ms);
    EXPECT_GE(ms, 0) << "left after 5 s:" << Describe(Carrying(profiles[0]));
    EXPECT_GE(MsUntil(10000, [&] { return ProfileRemoved(); }), 0) << "the profile is left: " << profiles[0];
}

TEST_F(ProgramWithPage, ClosingTheWindowEndsTheProgramAndItsBrowser) {
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(program->Close());
    EXPECT_EQ(program->WaitForExit(60000), std::optional<int>(0));
    printf("WM_CLOSE to the end of the program's process: %llu ms\n", GetTickCount64() - start);
    EXPECT_GE(MsUntil(10000, [&] { return Carrying(profiles[0]).empty(); }), 0)
        << "left:" << Describe(Carrying(profiles[0]));
    EXPECT_GE(MsUntil(10000, [&] { return ProfileRemoved(); }), 0) << "the profile is left: " << profiles[0];
}

namespace {

// A stand-in Linux process started the way the engine starts its browser; its id and start time.
struct StandIn {
    long pid = 0;
    wkechr::ProcStat stat;
};

std::wstring FreshLinuxFolder(const std::wstring& name, std::string& linuxPath) {
    std::wstring folder = driver::FreshFolder(name);
    linuxPath = wkechr::ToUtf8(wkechr::BrowserSidePath(folder));
    return folder;
}

std::optional<long> ReadPid(const std::wstring& file) {
    std::string text;
    long pid = 0;
    if (wkechr::ReadSmallFile(file, text) && wkechr::ParsePidFile(text, pid)) return pid;
    return std::nullopt;
}

std::optional<StandIn> StartHost(const std::wstring& folder, const std::string& linuxFolder) {
    const std::string script = "echo $$ >\"$0/host.part\" && mv \"$0/host.part\" \"$0/host.pid\" && exec sleep 60";
    if (!wkechr::Launch(wkechr::FromUtf8(wkechr::JoinCommandLine({"/bin/sh", "-c", script, linuxFolder}))))
        return std::nullopt;
    StandIn host;
    if (MsUntil(10000, [&] {
            std::optional<long> pid = ReadPid(folder + L"\\host.pid");
            if (pid) host.pid = *pid;
            return pid && wkechr::ReadLinuxStat(host.pid, host.stat);
        }) < 0)
        return std::nullopt;
    return host;
}

int GroupRunning(long group) {
    int running = 0;
    for (const auto& process : LinuxProcesses()) running += process.stat.processGroup == group;
    return running;
}

}  // namespace

TEST(Watcher, EndsAStandInBrowserWithItsHostAndItselfWithTheBrowser) {
    for (bool hostEnds : {true, false}) {
        SCOPED_TRACE(hostEnds ? "the host ends" : "the browser ends");
        std::string hostLinux, watchedLinux;
        const std::wstring hostFolder = FreshLinuxFolder(L"host", hostLinux);
        const std::wstring watched = FreshLinuxFolder(L"watched", watchedLinux);
        std::optional<StandIn> host = StartHost(hostFolder, hostLinux);
        ASSERT_TRUE(host) << "the stand-in host did not start";

        wkechr::WatchPlan plan;
        plan.hostPid = host->pid;
        plan.hostStartTime = host->stat.startTime;
        plan.folder = watchedLinux;
        // A browser with a child of its own, as the real one has its helpers.
        plan.command = {"/bin/sh", "-c", std::string("sleep 60 & ") + (hostEnds ? "sleep 60" : "sleep 2")};
        ASSERT_TRUE(wkechr::Launch(wkechr::FromUtf8(wkechr::JoinCommandLine(wkechr::WatcherArguments(plan)))));
        long browser = 0;
        ASSERT_GE(MsUntil(10000, [&] {
                      std::optional<long> pid = ReadPid(watched + L"\\" + wkechr::FromUtf8(wkechr::kBrowserPidFile));
                      if (pid) browser = *pid;
                      return pid.has_value();
                  }),
                  0);
        EXPECT_GE(MsUntil(5000, [&] { return GroupRunning(browser) >= 2; }), 0)
            << "the browser and its child, in a group of their own";
        ASSERT_EQ(Carrying(watchedLinux).size(), 1u) << "the watcher";

        if (hostEnds) wkechr::SignalLinux(host->pid, L"KILL", false);
        const long long ms = MsUntil(8000, [&] { return GroupRunning(browser) == 0 && Carrying(watchedLinux).empty(); });
        printf("%s: browser and watcher gone after %lld ms\n", hostEnds ? "host killed" : "browser ended", ms);
        EXPECT_GE(ms, 0) << "left:" << Describe(Carrying(watchedLinux));
        EXPECT_EQ(GetFileAttributesW(watched.c_str()), INVALID_FILE_ATTRIBUTES) << "the watched folder is left";
        EXPECT_EQ(wkechr::LinuxProcessRunning(host->pid, host->stat.startTime), !hostEnds);
        wkechr::SignalLinux(host->pid, L"KILL", false);
        wkechr::SignalLinux(browser, L"KILL", true);
    }
}
