// The two buttons beyond the window's designed width, for trying the view by hand.
#include <windows.h>
#include <shellapi.h>

#include "app/event_handlers.h"
#include "app/input_box.h"
#include "app/main_window.h"
#include "app/snapshot_store.h"
#include "base/wide.h"
#include "webview/web_view_host.h"

namespace {
constexpr const char* kDefaultAddress = "https://www.sohu.com/";
constexpr const char* kSnapshotTestFile = "d:\\截图.jpg";
}  // namespace

void VisitTestAction() {
    std::optional<Text> address = AskText(TheMainWindow().window, "访问", kDefaultAddress);
    if (address) g_webView->LoadUrl(*address);
}

void SnapshotTestAction() {
    ByteBuffer image = g_webView->CapturePage();
    WriteWholeFile(kSnapshotTestFile, image);
    ShellExecuteW(nullptr, L"open", ToWide(kSnapshotTestFile).c_str(), nullptr, nullptr,
                  SW_SHOWNORMAL);
}
