#include "linux_processes.h"

#include <string>
#include <vector>

#include "base/scoped_win.h"

namespace wketest {

namespace {

class ScopedFindFile {
public:
    ScopedFindFile(const std::wstring& pattern, WIN32_FIND_DATAW& data) : find_(FindFirstFileW(pattern.c_str(), &data)) {}
    ~ScopedFindFile() {
        if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
    }
    ScopedFindFile(const ScopedFindFile&) = delete;
    ScopedFindFile& operator=(const ScopedFindFile&) = delete;
    bool Next(WIN32_FIND_DATAW& data) const { return FindNextFileW(find_, &data) != 0; }
    explicit operator bool() const { return find_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE find_;
};

std::string ReadSmallFile(const std::wstring& path) {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  0, nullptr));
    std::string out;
    if (!file) return out;
    char buffer[4096];
    DWORD got = 0;
    while (out.size() < (1 << 20) && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    return out;
}

std::string RigFolder() {
    char value[1024];
    const DWORD n = GetEnvironmentVariableA("QUORLANE_RIG_DIR", value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

}  // namespace

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::set<DWORD> BrowserPids() {
    std::set<DWORD> pids;
    if (!UnderWine()) return pids;
    const std::string rig = RigFolder();
    WIN32_FIND_DATAW data;
    ScopedFindFile find(L"Z:\\proc\\*", data);
    if (!find) return pids;
    do {
        const std::wstring name = data.cFileName;
        if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
        std::string line = ReadSmallFile(L"Z:\\proc\\" + name + L"\\cmdline");
        for (char& c : line)
            if (c == '\0') c = ' ';
        if (line.find("--remote-debugging-port") == std::string::npos || line.find("--type=") != std::string::npos)
            continue;
        if (!rig.empty() && line.find(rig) == std::string::npos) continue;
        const DWORD pid = static_cast<DWORD>(std::wcstoul(name.c_str(), nullptr, 10));
        if (LinuxProcessAlive(pid)) pids.insert(pid);
    } while (find.Next(data));
    return pids;
}

bool LinuxProcessAlive(DWORD pid) {
    const std::string stat = ReadSmallFile(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\stat");
    if (stat.empty()) return false;
    const size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || (stat[close + 2] != 'Z' && stat[close + 2] != 'X');
}

bool KillLinuxProcess(DWORD pid, DWORD timeoutMs) {
    std::wstring command = L"/bin/kill -KILL " + std::to_wstring(pid);
    // The Linux program gets a null device for its output; left to itself it would take over this
    // process' own output.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    ScopedHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (nul) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, nul ? TRUE : FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info))
        return false;
    // A Linux program has no Windows process behind these; only real ones are closed.
    if (info.dwProcessId != 0) {
        ScopedHandle thread(info.hThread);
        ScopedHandle process(info.hProcess);
    }
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (LinuxProcessAlive(pid)) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(50);
    }
    return true;
}

}  // namespace wketest
