#include "process_launch.h"

#include <vector>

#include "browser_process.h"

namespace wkechr {

namespace {

struct AttributeListTraits {
    static LPPROC_THREAD_ATTRIBUTE_LIST Invalid() { return nullptr; }
    static void Close(LPPROC_THREAD_ATTRIBUTE_LIST list) { DeleteProcThreadAttributeList(list); }
};
using ScopedAttributeList = Scoped<LPPROC_THREAD_ATTRIBUTE_LIST, AttributeListTraits>;

}  // namespace

bool Launch(const std::wstring& commandLine, const wchar_t* environment, HANDLE output, DWORD flags,
            Launched* launched) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    flags |= CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT;
    BOOL inherit = FALSE;
    // Only the output file crosses over: a handle list limits inheritance to exactly it.
    std::vector<unsigned char> listMemory;
    ScopedAttributeList list;
    HANDLE inherited[1] = {output};
    if (output && output != INVALID_HANDLE_VALUE) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        listMemory.resize(size ? size : 1);
        auto* raw = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
        if (size && InitializeProcThreadAttributeList(raw, 1, 0, &size)) {
            list.Reset(raw);
            if (SetHandleInformation(output, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) &&
                UpdateProcThreadAttribute(raw, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited,
                                          nullptr, nullptr)) {
                startup.lpAttributeList = raw;
                startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
                startup.StartupInfo.hStdInput = startup.StartupInfo.hStdOutput = startup.StartupInfo.hStdError = output;
                flags |= EXTENDED_STARTUPINFO_PRESENT;
                inherit = TRUE;
            }
        }
    }
    std::wstring line = commandLine;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherit, flags,
                                        const_cast<wchar_t*>(environment), nullptr, &startup.StartupInfo, &info);
    if (output && output != INVALID_HANDLE_VALUE) SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    if (!started) return false;
    ScopedHandle process(info.hProcess);
    ScopedHandle thread(info.hThread);
    if (launched) {
        launched->process = std::move(process);
        launched->thread = std::move(thread);
        launched->pid = info.dwProcessId;
    }
    return true;
}

bool ReadSmallFile(const std::wstring& path, std::string& out, size_t limit) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    out.clear();
    char buffer[4096];
    DWORD got = 0;
    while (out.size() < limit && ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        out.append(buffer, got);
    return true;
}

std::wstring LinuxPathAsWindows(const std::wstring& linuxPath) {
    std::wstring path = L"Z:" + linuxPath;
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

bool ReadLinuxStat(long pid, ProcStat& out) {
    std::string text;
    return pid > 0 && ReadSmallFile(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\stat", text, 4096) &&
           ParseProcStat(text, out);
}

bool LinuxProcessRunning(long pid, uint64_t startTime) {
    ProcStat stat;
    if (pid <= 0 || !ReadLinuxStat(pid, stat)) return false;
    return !stat.Ended() && (startTime == 0 || stat.startTime == startTime);
}

void SignalLinux(long pid, const wchar_t* signal, bool group) {
    if (pid <= 0) return;
    Launch(L"/bin/kill -s " + std::wstring(signal) + L" -- " + (group ? L"-" : L"") + std::to_wstring(pid));
}

bool RunningAsLinuxRoot() {
    // The Wine server opens the file, so "self" is the server: it runs as the same user.
    std::string status;
    if (!ReadSmallFile(L"Z:\\proc\\self\\status", status)) return false;
    size_t uid = status.find("\nUid:");
    if (uid == std::string::npos) return false;
    size_t value = status.find_first_not_of(" \t", uid + 5);
    return value != std::string::npos && status[value] == '0' &&
           (value + 1 >= status.size() || status[value + 1] == ' ' || status[value + 1] == '\t');
}

// ---- the free functions of browser_process.h ---------------------------------------------------

void KillProcessById(DWORD pid) {
    if (pid == 0) return;
    if (IsWine()) {
        SignalLinux(static_cast<long>(pid), L"KILL", false);
        return;
    }
    ScopedHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) return;
    TerminateProcess(process.Get(), 1);
    WaitForSingleObject(process.Get(), 5000);
}

bool ProcessAlive(DWORD pid) {
    if (pid == 0) return false;
    if (IsWine()) return LinuxProcessRunning(static_cast<long>(pid));
    ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

}  // namespace wkechr
