#include "app/snapshot_store.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

#include "app/main_window.h"
#include "app/snapshot_name.h"
#include "base/scoped_win.h"
#include "base/wide.h"
#include "webview/web_view_host.h"

bool WriteWholeFile(const Text& path, const ByteBuffer& bytes) {
    HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool complete = true;
    std::size_t done = 0;
    while (complete && done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 26));
        DWORD written = 0;
        complete = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    // The close can be where a full disk or a network drive reports its failure.
    return CloseHandle(file) && complete;
}

namespace {

std::size_t Utf16Units(std::string_view gbk) {
    if (gbk.empty()) return 0;
    int units = MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    return units > 0 ? static_cast<std::size_t>(units) : 0;
}

std::size_t HostUtf8Bytes(std::string_view gbk) {
    if (gbk.empty()) return 0;
    const std::wstring wide = ToWide(Text(gbk));
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
    return bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The limits the rename meets: a name of 255 UTF-16 units, a path within MAX_PATH, and under Wine
// the host file system's 255 bytes of UTF-8 per name. The folder is measured as its full path.
NameFit FitFor(const Text& folder) {
    NameFit fit;
    const std::wstring probe = ToWide(folder + "Temp.jpg");
    const DWORD full = GetFullPathNameW(probe.c_str(), 0, nullptr, nullptr);
    const std::size_t probeUnits = full > 0 ? full - 1 : probe.size();
    fit.folderUnits = probeUnits > 8 ? probeUnits - 8 : 0;
    fit.nameUnits = 255;
    fit.pathUnits = MAX_PATH - 1;
    if (RunningUnderWine()) fit.nameUtf8Bytes = 255;
    fit.utf16Units = Utf16Units;
    fit.utf8Bytes = HostUtf8Bytes;
    return fit;
}

}  // namespace

void StoreSnapshot(int sequenceNumber, const ByteBuffer& image, const Text& captureTime) {
    MainWindow& w = TheMainWindow();
    const Text folder = ControlText(w.编辑框_保存路径);
    const Text temporary = folder + "Temp.jpg";
    // Only a complete image is renamed: a failed write must not put a truncated file, or an older
    // snapshot's Temp.jpg, under a new name.
    if (!WriteWholeFile(temporary, image)) return;

    SnapshotNameOptions options;
    options.sequenceNumber = IsTicked(w.选择框_序号);
    options.md5Digest = IsTicked(w.选择框_md5);
    options.pageTitle = IsTicked(w.选择框_网页标题);
    options.captureTime = IsTicked(w.选择框_截图时间);
    const Text name = BuildSnapshotName(sequenceNumber, image, options,
                                        [] { return g_webView->GetTitle(); }, captureTime, FitFor(folder));
    MoveFileExW(ToWide(temporary).c_str(), ToWide(folder + name + ".jpg").c_str(), 0);
}
