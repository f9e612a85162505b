// Title and address notifications carried from the reader thread to the thread that called
// wkeInit, through a message-only window, so that the program's handlers run there.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace wkechr {

class UiNotifier {
public:
    // Runs on the UI thread for each notification: the view's handle, title (or address), text.
    using Deliver = std::function<void(uintptr_t handle, bool title, std::wstring& text)>;

    // On the UI thread.
    bool Create(Deliver deliver);
    // Drops what was not delivered yet.
    void Destroy();
    // Any thread.
    void Post(uintptr_t handle, bool title, const std::wstring& text);

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    Deliver deliver_;
};

}  // namespace wkechr
