#include "app/info_box.h"

#include "base/wide.h"

void ShowInfoBox(const Text& message) {
    // No owner; MB_TASKMODAL disables the thread's windows while the box is open.
    MessageBoxW(nullptr, ToWide(message).c_str(), ToWide("信息：").c_str(), MB_OK | MB_TASKMODAL);
}
