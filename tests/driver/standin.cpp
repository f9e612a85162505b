// A small window for the driver's own tests, laid out like the program's: a caption of the same
// text, a group box holding controls of its own, and a Start button whose handler keeps serving
// messages until Stop is pressed and then shows an information box.
//   standin.exe [exit code]    QUORLANE_STANDIN_TEXT is shown in a label, the working folder in another
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

enum : int { kStart = 1, kStop, kStatus, kGroup, kEdit, kCheck, kEnvironment, kFolder, kBox };

constexpr COLORREF kBackground = RGB(0x33, 0x66, 0x99);

HWND g_start, g_stop, g_status;
bool g_stopRequested = false;
int g_exitCode = 0;

HWND Make(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h,
          int id) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

void RunUntilStopped() {
    EnableWindow(g_start, FALSE);
    EnableWindow(g_stop, TRUE);
    SetWindowTextW(g_status, L"运行中");
    g_stopRequested = false;
    while (!g_stopRequested) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    SetWindowTextW(g_status, L"完成");
    EnableWindow(g_start, TRUE);
    EnableWindow(g_stop, FALSE);
    MessageBoxW(nullptr, L"完成！", L"信息：", MB_OK | MB_TASKMODAL);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            HWND group = Make(window, L"BUTTON", L"分组", BS_GROUPBOX, 0, 0, 380, 150, kGroup);
            Make(group, L"EDIT", L"", ES_MULTILINE | ES_WANTRETURN | WS_BORDER | WS_VSCROLL, 8, 20, 200, 80,
                 kEdit);
            Make(group, L"BUTTON", L"选项", BS_AUTOCHECKBOX, 220, 20, 80, 16, kCheck);
            g_start = Make(window, L"BUTTON", L"开始", BS_PUSHBUTTON, 10, 160, 80, 28, kStart);
            g_stop = Make(window, L"BUTTON", L"停止", BS_PUSHBUTTON | WS_DISABLED, 100, 160, 80, 28, kStop);
            Make(window, L"BUTTON", L"消息", BS_PUSHBUTTON, 190, 160, 80, 28, kBox);
            g_status = Make(window, L"STATIC", L"空闲", SS_LEFT, 280, 165, 90, 20, kStatus);
            wchar_t value[256] = L"";
            GetEnvironmentVariableW(L"QUORLANE_STANDIN_TEXT", value, 256);
            Make(window, L"STATIC", value, SS_LEFT, 10, 195, 360, 20, kEnvironment);
            wchar_t folder[MAX_PATH] = L"";
            GetCurrentDirectoryW(MAX_PATH, folder);
            Make(window, L"STATIC", folder, SS_LEFT, 10, 220, 360, 20, kFolder);
            return 0;
        }
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) break;
            if (LOWORD(wParam) == kStart) RunUntilStopped();
            if (LOWORD(wParam) == kStop) g_stopRequested = true;
            if (LOWORD(wParam) == kBox) MessageBoxW(window, L"第一行\n第二行", L"提示", MB_OKCANCEL);
            return 0;
        case WM_DESTROY:
            g_stopRequested = true;
            PostQuitMessage(g_exitCode);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    g_exitCode = static_cast<int>(std::wcstol(commandLine, nullptr, 10));
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = CreateSolidBrush(kBackground);
    wc.lpszClassName = L"DriverStandIn";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, L"DriverStandIn", L"Quorlanev1.0", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                  50, 50, 400, 320, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOW);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
