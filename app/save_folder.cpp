// Choosing the save folder in the shell's folder browser.
#include <windows.h>
#include <shlobj.h>

#include "app/event_handlers.h"
#include "app/main_window.h"
#include "app/text_ops.h"
#include "base/wide.h"

namespace {

Text BrowseForFolder() {
    std::wstring title = ToWide("请选择保存路径：");
    BROWSEINFOW info{};
    info.hwndOwner = GetActiveWindow();
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (!item) return Text();
    wchar_t path[MAX_PATH] = L"";
    BOOL ok = SHGetPathFromIDListW(item, path);
    CoTaskMemFree(item);
    return ok ? FromWide(path) : Text();
}

}  // namespace

void ChooseSaveFolder() {
    Text path = BrowseForFolder() + "\\";
    // A drive's root already ends with its backslash.
    path = ReplaceAll(path, ":\\\\", ":\\");
    if (path == "\\") return;
    SetControlText(TheMainWindow().编辑框_保存路径, path);
}
