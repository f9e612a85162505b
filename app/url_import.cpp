// Importing the address list from a text file: its bytes up to the first 00 or 1A, unconverted.
#include <windows.h>
#include <commdlg.h>

#include <limits>
#include <new>
#include <stdexcept>

#include "app/event_handlers.h"
#include "app/url_import.h"
#include "app/info_box.h"
#include "app/main_window.h"
#include "base/scoped_win.h"
#include "base/wide.h"

std::size_t g_importMemoryLimit = std::numeric_limits<std::size_t>::max();

namespace {

// 通用对话框1: its filter, and the name chosen last (the initial name next time).
struct OpenFileDialog {
    Text filter = "文本文件（*.txt）|*.txt;*.log;|所有文件（*.*）|*.*;";
    Text fileName;
};
OpenFileDialog 通用对话框1;

std::wstring DialogFilter(const Text& filter) {
    std::wstring wide = ToWide(filter);
    for (wchar_t& c : wide)
        if (c == L'|') c = L'\0';
    wide.push_back(L'\0');
    wide.push_back(L'\0');
    return wide;
}

bool ShowOpenDialog(OpenFileDialog& dialog, HWND owner) {
    std::wstring filter = DialogFilter(dialog.filter);
    std::wstring name = ToWide(dialog.fileName);
    std::wstring title = ToWide("导入网址列表");
    std::wstring buffer(32768, L'\0');
    name.copy(buffer.data(), std::min(name.size(), buffer.size() - 1));
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) return false;
    Text chosen = FromWide(buffer.c_str());
    if (chosen.empty()) return false;
    dialog.fileName = chosen;
    return true;
}

// The bytes up to the first 00 or 1A, walked by characters. A two-byte character cut by one of
// them is dropped whole, so the text never holds a stray lead byte or a NUL.
Text ListText(const ByteBuffer& bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::uint8_t b = bytes[i];
        if (b == 0x00 || b == 0x1A) break;
        if (IsLeadByte(b) && i + 1 < bytes.size()) {
            std::uint8_t trail = bytes[i + 1];
            if (trail == 0x00 || trail == 0x1A) break;
            i += 2;
        } else {
            i += 1;
        }
    }
    return Text(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(i));
}

bool ReadWholeFile(const Text& path, ByteBuffer& bytes) {
    ScopedHandle file(CreateFileW(ToWide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    bytes.clear();
    std::uint8_t chunk[1 << 16];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) return false;
        if (got == 0) return true;
        if (got > g_importMemoryLimit - bytes.size()) return false;
        bytes.insert(bytes.end(), chunk, chunk + got);
        // Nothing past the first end-of-text byte is used; stop reading there.
        for (DWORD k = 0; k < got; ++k)
            if (chunk[k] == 0x00 || chunk[k] == 0x1A) return true;
    }
}

}  // namespace

void ImportUrlList() {
    MainWindow& w = TheMainWindow();
    if (!ShowOpenDialog(通用对话框1, w.window)) return;
    // A file too large for memory is a file that cannot be read: the same box, the list unchanged.
    bool imported = false;
    try {
        ByteBuffer bytes;
        if (ReadWholeFile(通用对话框1.fileName, bytes)) {
            const std::wstring list = ToWide(ListText(bytes));
            bytes = ByteBuffer();
            imported = SetWindowTextW(w.编辑框_网址列表, list.c_str()) != 0;
        }
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    if (!imported) {
        ShowInfoBox("无法读取文件“" + 通用对话框1.fileName + "”，网址列表没有改变。");
        return;
    }
    ShowInfoBox("文件导入完成！");
}
