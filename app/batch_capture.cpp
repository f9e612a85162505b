// The batch: every address of the list is loaded, waited for, captured whole and stored.
#include "app/batch_capture.h"

#include <windows.h>

#include "app/event_handlers.h"
#include "app/info_box.h"
#include "app/main_window.h"
#include "app/snapshot_name.h"
#include "app/snapshot_store.h"
#include "app/text_ops.h"
#include "app/wait_with_events.h"
#include "webview/web_view_host.h"

int RunFlag = 0;
int g_waitStepMilliseconds = 1000;

namespace {

constexpr int kWaitsPerReload = 15;
// A page still loading after this many waits is captured as it is shown.
constexpr int kWaitsBeforeGivingUp = 60;

bool MainWindowGone() { return TheMainWindow().window == nullptr; }

Text StatusFor(std::size_t item, std::size_t total) {
    return "任务状态：   总：" + std::to_string(total) + "条，正在处理第 " + std::to_string(item) +
           " 条！";
}

Text CaptureTimeNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FormatCaptureTime(
        {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

enum class WaitResult { PageReady, WindowClosed };

// Waits at least once; ends when the engine reports the load complete, when Stop is pressed, or
// after the last permitted wait.
WaitResult WaitForPage(int& reloadCounter) {
    for (int waits = 1;; ++waits) {
        WaitWithEvents(g_waitStepMilliseconds);
        if (MainWindowGone()) return WaitResult::WindowClosed;
        ++reloadCounter;
        if (RunFlag == 0 || waits >= kWaitsBeforeGivingUp) {
            // Leaving the page: the reload that would be due now is pointless, but the count
            // still starts over so that later pages keep reloading every 15 waits.
            if (reloadCounter >= kWaitsPerReload) reloadCounter = 0;
            return WaitResult::PageReady;
        }
        if (reloadCounter == kWaitsPerReload) {
            g_webView->Reload();
            reloadCounter = 0;
        }
        if (g_webView->IsLoadComplete()) return WaitResult::PageReady;
    }
}

}  // namespace

void BatchCaptureTask() {
    MainWindow& w = TheMainWindow();
    EnableWindow(w.按钮_开始, FALSE);
    EnableWindow(w.按钮_停止任务, TRUE);
    RunFlag = 1;

    const std::vector<Text> items = SplitLines(ControlText(w.编辑框_网址列表));
    int reloadCounter = 0;
    for (std::size_t i = 1; i <= items.size(); ++i) {
        if (RunFlag == 0) break;
        SetControlText(w.标签4, StatusFor(i, items.size()));
        const Text& address = items[i - 1];
        if (RemoveSpaces(address).empty()) continue;
        g_webView->LoadUrl(address);
        // Closing the window destroyed the view: nothing of the task may touch it again.
        if (WaitForPage(reloadCounter) == WaitResult::WindowClosed) return;
        ByteBuffer image = g_webView->CapturePage();
        Text captureTime = CaptureTimeNow();
        StoreSnapshot(static_cast<int>(i), image, captureTime);
    }

    SetControlText(w.标签4, "任务状态：完成！");
    EnableWindow(w.按钮_开始, TRUE);
    EnableWindow(w.按钮_停止任务, FALSE);
    RunFlag = 1;
    ShowInfoBox("完成！");
}

void StopBatchCapture() { RunFlag = 0; }
