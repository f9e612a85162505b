#include "tests/driver/test_files.h"

#include <algorithm>

#include "base/scoped_win.h"

namespace driver {
namespace {

class ScopedFind {
public:
    ScopedFind(const std::wstring& pattern, WIN32_FIND_DATAW& found)
        : handle_(FindFirstFileW(pattern.c_str(), &found)) {}
    ~ScopedFind() {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    }
    ScopedFind(const ScopedFind&) = delete;
    ScopedFind& operator=(const ScopedFind&) = delete;
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAW& found) const { return FindNextFileW(handle_, &found) != FALSE; }

private:
    HANDLE handle_;
};

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    if (ScopedFind search(path + L"\\*", found); search) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
            else DeleteFileW(child.c_str());
        } while (search.Next(found));
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace

std::wstring TestFolder() {
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring folder(path, n);
    size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
}

std::wstring FreshFolder(const std::wstring& name) {
    std::wstring root = TestFolder() + L"\\scratch";
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring folder = root + L"\\" + name;
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    ScopedFind search(folder + L"\\*", found);
    if (!search) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
    } while (search.Next(found));
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::vector<std::uint8_t>> ReadBytes(const std::wstring& path) {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> chunk(1 << 20);
    DWORD got = 0;
    while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file) return false;
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

}  // namespace driver
