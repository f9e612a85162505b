#include "profile_folder.h"

#include <windows.h>

#include <cwchar>

#include "browser_process.h"
#include "process_launch.h"
#include "process_watch.h"
#include "scoped.h"
#include "text.h"

namespace wkechr {

std::wstring MakeProfileFolder(std::wstring& error) {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) {
        error = L"no temporary folder";
        return {};
    }
    static LONG counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t name[96];
        // Short: under Wine the browser's socket path inside it must stay below the Linux limit.
        swprintf(name, 96, L"wkb%lx%lx%lx", GetCurrentProcessId() & 0xFFF, GetTickCount() & 0xFFFF,
                 static_cast<unsigned long>(InterlockedIncrement(&counter)) & 0xFF);
        std::wstring folder = std::wstring(temp) + name;
        if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    }
    error = L"could not make a profile folder in " + std::wstring(temp);
    return {};
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
                Launch(FromUtf8(JoinCommandLine({"/bin/sh", "-c", ToUtf8(script)})));
                askedLinux = true;
            }
        }
        if (static_cast<int32_t>(GetTickCount() - deadline) >= 0) return false;
        Sleep(100);
    }
}

}  // namespace wkechr
