// Finding the browser: the variable that names one, well-known Linux paths under Wine, the
// registry's application paths and the usual installation folders on Windows.
#include <windows.h>

#include "browser_process.h"
#include "process_launch.h"
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

}  // namespace wkechr
