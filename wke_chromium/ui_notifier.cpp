#include "ui_notifier.h"

#include <memory>

namespace wkechr {

namespace {

constexpr UINT kNotifyMessage = WM_APP + 0x51;
constexpr wchar_t kNotifyClass[] = L"WkeChromiumNotifyWindow";

struct Notification {
    uintptr_t handle;
    bool title;
    std::wstring text;
};

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

bool UiNotifier::Create(Deliver deliver) {
    deliver_ = std::move(deliver);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &UiNotifier::Proc;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kNotifyClass;
    RegisterClassExW(&windowClass);
    window_ = CreateWindowExW(0, kNotifyClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
    if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return window_ != nullptr;
}

void UiNotifier::Destroy() {
    if (window_) {
        MSG message;
        while (PeekMessageW(&message, window_, kNotifyMessage, kNotifyMessage, PM_REMOVE))
            delete reinterpret_cast<Notification*>(message.lParam);
        DestroyWindow(window_);
        window_ = nullptr;
    }
    UnregisterClassW(kNotifyClass, ThisModule());
    deliver_ = nullptr;
}

void UiNotifier::Post(uintptr_t handle, bool title, const std::wstring& text) {
    HWND window = window_;
    if (!window) return;
    auto* notification = new Notification{handle, title, text};
    if (!PostMessageW(window, kNotifyMessage, 0, reinterpret_cast<LPARAM>(notification))) delete notification;
}

LRESULT CALLBACK UiNotifier::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kNotifyMessage) return DefWindowProcW(hwnd, message, wParam, lParam);
    std::unique_ptr<Notification> notification(reinterpret_cast<Notification*>(lParam));
    auto* self = reinterpret_cast<UiNotifier*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && self->deliver_) self->deliver_(notification->handle, notification->title, notification->text);
    return 0;
}

}  // namespace wkechr
