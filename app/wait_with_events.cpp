#include "app/wait_with_events.h"

#include <windows.h>

#include "webview/web_view_host.h"

namespace {

// Dispatches what is queued; false once the next message is the request to quit, which is put
// back so that the message loop that owns it still ends the program.
bool DispatchWaitingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        if (TakeTabKeyDispatchedByHook(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

}  // namespace

void WaitWithEvents(int ms) {
    if (ms <= 0) return;
    const DWORD start = GetTickCount();
    const DWORD length = static_cast<DWORD>(ms);
    bool quitQueued = false;
    for (;;) {
        if (!quitQueued) quitQueued = !DispatchWaitingMessages();
        DWORD elapsed = GetTickCount() - start;
        if (elapsed > length) return;
        DWORD remaining = length - elapsed + 1;
        if (quitQueued)
            Sleep(remaining);
        else
            MsgWaitForMultipleObjectsEx(0, nullptr, remaining, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}
