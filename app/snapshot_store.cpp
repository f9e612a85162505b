#include "app/snapshot_store.h"

#include <windows.h>

#include <algorithm>

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
                                        [] { return g_webView->GetTitle(); }, captureTime);
    MoveFileExW(ToWide(temporary).c_str(), ToWide(folder + name + ".jpg").c_str(), 0);
}
