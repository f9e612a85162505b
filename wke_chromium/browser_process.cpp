#include "browser_process.h"

#include <cstdio>

#include "text.h"

namespace wkechr {

namespace {

using UnixNameFn = char*(CDECL*)(LPCWSTR);

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[32768];
    DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    return n > 0 && n < 32768 ? std::wstring(buffer, n) : std::wstring();
}

bool WindowsFileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring LinuxPathAsWindows(const std::wstring& linuxPath) {
    std::wstring path = L"Z:" + linuxPath;
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

bool ReadWholeFile(const std::wstring& path, std::string& out, size_t limit) {
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

bool RunningAsLinuxRoot() {
    std::string status;
    if (!ReadWholeFile(L"Z:\\proc\\self\\status", status, 65536)) return false;
    size_t uid = status.find("\nUid:");
    if (uid == std::string::npos) return false;
    size_t value = status.find_first_not_of(" \t", uid + 5);
    return value != std::string::npos && status[value] == '0' &&
           (value + 1 >= status.size() || status[value + 1] == ' ' || status[value + 1] == '\t');
}

std::wstring Quote(const std::wstring& argument) {
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

// Starts a program without waiting; under Wine that may be a Linux program.
bool Launch(std::wstring commandLine, const wchar_t* environment, ScopedHandle* processOut, DWORD* pidOut,
            const std::wstring& outputFile = L"NUL") {
    // The browser's diagnostics go to a file rather than into the program's console or pipes.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    ScopedFile nul(CreateFileW(outputFile.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, outputFile == L"NUL" ? OPEN_EXISTING : CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (nul) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
    }
    PROCESS_INFORMATION info{};
    DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, nul ? TRUE : FALSE, flags,
                        const_cast<wchar_t*>(environment), nullptr, &startup, &info))
        return false;
    ScopedHandle thread(info.hThread);
    ScopedHandle process(info.hProcess);
    if (pidOut) *pidOut = info.dwProcessId;
    if (processOut) *processOut = std::move(process);
    return true;
}

std::wstring RegistryAppPath(HKEY root, const wchar_t* exe) {
    std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    key += exe;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return {};
    ScopedRegKey opened(raw);
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(opened.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::wstring path = value;
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH * 2];
        if (ExpandEnvironmentStringsW(path.c_str(), expanded, MAX_PATH * 2)) path = expanded;
    }
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
    return path;
}

}  // namespace

bool IsWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring BrowserSidePath(const std::wstring& windowsPath) {
    if (!IsWine() || windowsPath.empty() || windowsPath[0] == L'/') return windowsPath;
    auto toUnix = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return windowsPath;
    ScopedHeapMem unixName(toUnix(windowsPath.c_str()));
    if (!unixName) return windowsPath;
    // The Linux side names files in UTF-8.
    return FromUtf8(static_cast<const char*>(unixName.Get()));
}

bool BrowserFileExists(const std::wstring& path) {
    if (path.empty()) return false;
    if (path[0] == L'/') return IsWine() && WindowsFileExists(LinuxPathAsWindows(path));
    return WindowsFileExists(path);
}

BrowserSearch FindBrowser() {
    BrowserSearch search;
    std::wstring named = TrimSpace(Env(kBrowserVariable));
    if (named.size() >= 2 && named.front() == L'"' && named.back() == L'"') named = named.substr(1, named.size() - 2);
    if (!named.empty()) {
        search.fromVariable = true;
        search.places.push_back(named);
        if (BrowserFileExists(named)) search.found = named;
        return search;
    }
    auto consider = [&](const std::wstring& path) {
        if (path.empty() || !search.found.empty()) return;
        search.places.push_back(path);
        if (BrowserFileExists(path)) search.found = path;
    };
    if (IsWine()) {
        consider(L"/usr/bin/chromium");
        consider(L"/usr/bin/chromium-browser");
        consider(L"/usr/bin/google-chrome");
        consider(L"/usr/bin/microsoft-edge");
    }
    for (const wchar_t* exe : {L"chrome.exe", L"msedge.exe"}) {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            std::wstring fromRegistry = RegistryAppPath(root, exe);
            if (!fromRegistry.empty()) consider(fromRegistry);
        }
    }
    const std::wstring programFiles = Env(L"ProgramFiles");
    const std::wstring programFilesX86 = Env(L"ProgramFiles(x86)");
    const std::wstring programW6432 = Env(L"ProgramW6432");
    const std::wstring localAppData = Env(L"LOCALAPPDATA");
    const wchar_t* kChrome = L"\\Google\\Chrome\\Application\\chrome.exe";
    const wchar_t* kEdge = L"\\Microsoft\\Edge\\Application\\msedge.exe";
    const wchar_t* kChromium = L"\\Chromium\\Application\\chrome.exe";
    for (const wchar_t* tail : {kChrome, kEdge, kChromium}) {
        for (const std::wstring* base : {&programW6432, &programFiles, &programFilesX86, &localAppData}) {
            if (base->empty()) continue;
            std::wstring path = *base + tail;
            bool seen = false;
            for (const auto& place : search.places) seen = seen || place == path;
            if (!seen) consider(path);
        }
    }
    return search;
}

BrowserProcess::~BrowserProcess() { Cleanup(); }

bool BrowserProcess::Start(const std::wstring& executable, int timeoutMs, std::wstring& error) {
    Cleanup();
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) {
        error = L"no temporary folder";
        return false;
    }
    static LONG counter = 0;
    for (int attempt = 0; attempt < 100 && profile_.empty(); ++attempt) {
        wchar_t name[96];
        // Short: under Wine the browser's socket path inside it must stay below the Linux limit.
        swprintf(name, 96, L"wkb%lx%lx%lx", GetCurrentProcessId() & 0xFFF, GetTickCount() & 0xFFFF,
                 static_cast<unsigned long>(InterlockedIncrement(&counter)) & 0xFF);
        std::wstring folder = std::wstring(temp) + name;
        if (CreateDirectoryW(folder.c_str(), nullptr)) profile_ = folder;
    }
    if (profile_.empty()) {
        error = L"could not make a profile folder in " + std::wstring(temp);
        return false;
    }

    const bool wine = IsWine();
    std::wstring command = Quote(executable);
    command += L" --headless=new --disable-gpu --no-first-run --no-default-browser-check"
               L" --disable-background-networking --disable-component-update --disable-sync"
               L" --disable-extensions --disable-default-apps --hide-scrollbars"
               L" --password-store=basic --remote-debugging-port=0";
    command += L" " + Quote(L"--user-data-dir=" + BrowserSidePath(profile_));
    if (wine) {
        command += L" --disable-dev-shm-usage";
        if (RunningAsLinuxRoot()) command += L" --no-sandbox";
    }
    command += L" about:blank";

    // Under Wine the browser's own temporary files (its singleton socket folder) go into the
    // profile, so removing the profile leaves nothing behind even after a kill.
    std::wstring environment;
    {
        const std::wstring tmpFolder = BrowserSidePath(profile_);
        const size_t kSocketTail = 48;  // "/org.chromium.Chromium.XXXXXX/SingletonSocket"
        const bool ownTmp = wine && tmpFolder.size() + kSocketTail < 104;
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
    }

    DWORD pid = 0;
    if (!Launch(command, environment.c_str(), &process_, &pid, profile_ + L"\\browser-output.txt")) {
        error = L"could not start " + executable;
        Cleanup();
        return false;
    }
    pid_ = wine ? 0 : pid;
    if (!wine) {
        // Everything the browser starts ends with the engine, even if the program dies.
        job_.Reset(CreateJobObjectW(nullptr, nullptr));
        if (job_) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
            AssignProcessToJobObject(job_.Get(), process_.Get());
        }
    }

    const std::wstring portFile = profile_ + L"\\DevToolsActivePort";
    DWORD deadline = GetTickCount() + static_cast<DWORD>(timeoutMs);
    for (;;) {
        std::string text;
        if (ReadWholeFile(portFile, text, 4096) && ParseDevToolsActivePort(text, port_, endpointPath_)) return true;
        if (!wine && process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0) {
            error = L"the browser exited at start: " + executable;
            break;
        }
        if (static_cast<int32_t>(GetTickCount() - deadline) >= 0) {
            error = L"the browser did not open its debugging endpoint: " + executable;
            break;
        }
        Sleep(50);
    }
    Cleanup();
    return false;
}

bool BrowserProcess::Running() const {
    if (!IsWine() && process_) return WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
    return pid_ != 0 && ProcessAlive(pid_);
}

bool BrowserProcess::WaitForExit(int timeoutMs) {
    if (!IsWine() && process_) return WaitForSingleObject(process_.Get(), static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
    if (pid_ == 0) return true;
    DWORD deadline = GetTickCount() + static_cast<DWORD>(timeoutMs);
    while (ProcessAlive(pid_)) {
        if (static_cast<int32_t>(GetTickCount() - deadline) >= 0) return false;
        Sleep(50);
    }
    return true;
}

void BrowserProcess::Kill() {
    if (!IsWine() && process_) {
        if (job_) TerminateJobObject(job_.Get(), 1);
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 5000);
        return;
    }
    if (pid_ != 0 && ProcessAlive(pid_)) {
        // Asked first: a browser that ends by itself removes its own singleton files.
        Launch(L"/bin/kill -TERM " + std::to_wstring(pid_), nullptr, nullptr, nullptr);
        if (WaitForExit(3000)) return;
        KillProcessById(pid_);
        WaitForExit(5000);
    }
}

void BrowserProcess::Cleanup() {
    if (Running()) Kill();
    if (!profile_.empty()) RemoveFolder(profile_, 5000);
    process_.Reset();
    job_.Reset();
    profile_.clear();
    pid_ = 0;
    port_ = 0;
    endpointPath_.clear();
}

void KillProcessById(DWORD pid) {
    if (pid == 0) return;
    if (IsWine()) {
        Launch(L"/bin/kill -KILL " + std::to_wstring(pid), nullptr, nullptr, nullptr);
        return;
    }
    ScopedHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) return;
    TerminateProcess(process.Get(), 1);
    WaitForSingleObject(process.Get(), 5000);
}

bool ProcessAlive(DWORD pid) {
    if (pid == 0) return false;
    if (IsWine()) {
        std::string stat;
        if (!ReadWholeFile(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\stat", stat, 4096)) return false;
        size_t close = stat.rfind(')');
        return close == std::string::npos || close + 2 >= stat.size() || (stat[close + 2] != 'Z' && stat[close + 2] != 'X');
    }
    ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

namespace {

bool RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    bool ok = true;
    if (find) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                ok = RemoveTree(path) && ok;
            } else {
                if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                    SetFileAttributesW(path.c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
                if (!DeleteFileW(path.c_str()) && !RemoveDirectoryW(path.c_str())) ok = false;
            }
        } while (FindNextFileW(find.Get(), &data));
    }
    find.Reset();
    return RemoveDirectoryW(folder.c_str()) && ok;
}

}  // namespace

bool RemoveFolder(const std::wstring& folder, int timeoutMs) {
    DWORD deadline = GetTickCount() + static_cast<DWORD>(timeoutMs);
    bool askedLinux = false;
    for (;;) {
        if (RemoveTree(folder) || GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
        // A killed browser leaves Linux symbolic links that point nowhere, which Wine cannot delete,
        // and its singleton socket folder in the Linux temporary folder: a shell removes both.
        if (IsWine() && !askedLinux) {
            std::wstring linuxPath = BrowserSidePath(folder);
            if (!linuxPath.empty() && linuxPath[0] == L'/' && linuxPath.find(L'\'') == std::wstring::npos) {
                std::wstring script = L"d=$(readlink '" + linuxPath + L"/SingletonSocket'); case \"$d\" in "
                                      L"*/org.chromium.*/SingletonSocket) rm -rf -- \"${d%/*}\";; esac; rm -rf -- '" +
                                      linuxPath + L"'";
                Launch(L"/bin/sh -c " + Quote(script), nullptr, nullptr, nullptr);
                askedLinux = true;
            }
        }
        if (static_cast<int32_t>(GetTickCount() - deadline) >= 0) return false;
        Sleep(100);
    }
}

}  // namespace wkechr
