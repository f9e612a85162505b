#include "app/main_window.h"

#include <commctrl.h>

#include "app/event_handlers.h"
#include "base/wide.h"
#include "webview/web_view_host.h"

namespace {

MainWindow g_mainWindow;
HFONT g_controlFont = nullptr;

constexpr wchar_t kWindowClass[] = L"QuorlaneMainWindow";

enum ControlId : int {
    kStop = 101, kCaptureTime, kStatus, kNamingLabel, kStart, kImport, kBrowse, kSaveFolder,
    kFolderLabel, kGroup, kTitleOption, kMd5Option, kSequenceOption, kUrlList, kListLabel,
    kSpareEdit, kSnapshotTest, kVisitTest,
};

enum Parent { kMain, kInGroup };

struct ControlSpec {
    HWND MainWindow::*field;
    int id;
    Parent parent;
    const wchar_t* windowClass;
    const char* text;
    int x, y, w, h;
    DWORD style;
    DWORD exStyle;
    bool ticked;
};

constexpr DWORD kButton = BS_PUSHBUTTON;
constexpr DWORD kCheck = BS_AUTOCHECKBOX;
constexpr DWORD kLabel = SS_LEFT;

// Top of the stacking order first: windows created later lie below those created earlier.
const ControlSpec kControls[] = {
    {&MainWindow::按钮_停止任务, kStop, kMain, L"BUTTON", "停止任务", 690, 536, 80, 32, kButton | WS_DISABLED, 0, false},
    {&MainWindow::选择框_截图时间, kCaptureTime, kMain, L"BUTTON", "截图时间", 373, 581, 81, 15, kCheck, 0, false},
    {&MainWindow::标签4, kStatus, kMain, L"STATIC", "任务状态：当前无任务。", 354, 5, 366, 24, kLabel, 0, false},
    {&MainWindow::标签3, kNamingLabel, kMain, L"STATIC", "文件名保存规则：", 8, 576, 123, 24, kLabel, 0, false},
    {&MainWindow::按钮_开始, kStart, kMain, L"BUTTON", "开始任务", 604, 537, 80, 32, kButton, 0, false},
    {&MainWindow::按钮_导入文本, kImport, kMain, L"BUTTON", "导入文本", 519, 539, 80, 30, kButton, 0, false},
    {&MainWindow::按钮_浏览, kBrowse, kMain, L"BUTTON", "浏览...", 443, 539, 71, 30, kButton, 0, false},
    {&MainWindow::编辑框_保存路径, kSaveFolder, kMain, L"EDIT", "", 80, 539, 360, 29, ES_AUTOHSCROLL | WS_BORDER, 0, false},
    {&MainWindow::标签1, kFolderLabel, kMain, L"STATIC", "保存路径：", 8, 544, 80, 24, kLabel, 0, false},
    {&MainWindow::分组框1, kGroup, kMain, L"BUTTON", "", 0, -4, 784, 613, BS_GROUPBOX | WS_CLIPCHILDREN, 0, false},
    {&MainWindow::选择框_网页标题, kTitleOption, kInGroup, L"BUTTON", "网页标题", 291, 585, 81, 15, kCheck, 0, false},
    {&MainWindow::选择框_md5, kMd5Option, kInGroup, L"BUTTON", "MD5 Hash", 204, 585, 86, 15, kCheck, 0, true},
    {&MainWindow::选择框_序号, kSequenceOption, kInGroup, L"BUTTON", "序号", 136, 586, 59, 14, kCheck, 0, true},
    {&MainWindow::编辑框_网址列表, kUrlList, kInGroup, L"EDIT", "", 8, 36, 760, 496,
     ES_MULTILINE | ES_WANTRETURN | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL | WS_VSCROLL | WS_BORDER, 0, false},
    {&MainWindow::标签2, kListLabel, kInGroup, L"STATIC", "网址列表（一行一个网址）：", 8, 8, 256, 24, kLabel, 0, false},
    {&MainWindow::编辑框1, kSpareEdit, kMain, L"EDIT", "", 392, 8, 288, 272,
     ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL, WS_EX_CLIENTEDGE, false},
    {&MainWindow::按钮2, kSnapshotTest, kMain, L"BUTTON", "截图", 888, 328, 80, 32, kButton, 0, false},
    {&MainWindow::按钮1, kVisitTest, kMain, L"BUTTON", "访问", 888, 272, 80, 32, kButton, 0, false},
};

HFONT ControlFont() {
    if (!g_controlFont) {
        LOGFONTW font{};
        font.lfHeight = -12;
        font.lfWeight = FW_NORMAL;
        // Without a CJK character set Wine draws the Chinese texts as empty boxes.
        font.lfCharSet = GB2312_CHARSET;
        font.lfQuality = DEFAULT_QUALITY;
        lstrcpynW(font.lfFaceName, L"Microsoft YaHei UI", LF_FACESIZE);
        g_controlFont = CreateFontIndirectW(&font);
    }
    return g_controlFont;
}

void CreateControls(HWND window, HINSTANCE instance) {
    MainWindow& w = g_mainWindow;
    w.window = window;
    for (const ControlSpec& c : kControls) {
        HWND parent = c.parent == kInGroup ? w.分组框1 : window;
        HWND control = CreateWindowExW(c.exStyle, c.windowClass, ToWide(c.text).c_str(),
                                       WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | c.style, c.x, c.y,
                                       c.w, c.h, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                                       instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(ControlFont()), FALSE);
        if (c.ticked) SendMessageW(control, BM_SETCHECK, BST_CHECKED, 0);
        w.*c.field = control;
    }
    // Lists of many thousands of addresses are pasted or imported whole.
    SendMessageW(w.编辑框_网址列表, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
}

void OnCommand(int id, int notification) {
    if (notification != BN_CLICKED) return;
    switch (id) {
        case kStart: BatchCaptureTask(); break;
        case kStop: StopBatchCapture(); break;
        case kImport: ImportUrlList(); break;
        case kBrowse: ChooseSaveFolder(); break;
        case kVisitTest: VisitTestAction(); break;
        case kSnapshotTest: SnapshotTestAction(); break;
        default: break;
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateControls(window, reinterpret_cast<CREATESTRUCTW*>(lParam)->hInstance);
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_DESTROY:
            OnMainWindowDestroying();
            g_mainWindow = MainWindow{};
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

Text ComputeProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? Text() : FromWide(path.substr(0, slash));
}

}  // namespace

MainWindow& TheMainWindow() { return g_mainWindow; }

const Text& ProgramFolder() {
    static const Text folder = ComputeProgramFolder();
    return folder;
}

Text ControlText(HWND control) { return WindowText(control); }
void SetControlText(HWND control, const Text& text) { SetWindowTextGbk(control, text); }
bool IsTicked(HWND checkBox) { return SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }

HWND LoadMainWindow(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);

    // Not WS_CLIPCHILDREN: 分组框1 covers the whole client area, which would leave a Direct3D 9
    // swap chain nothing to present into. The GDI renderer leaves the controls out by itself.
    HWND window = CreateWindowExW(0, kWindowClass, L"Quorlanev1.0",
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  50, 50, 780, 630, nullptr, nullptr, instance, nullptr);
    if (!window) return nullptr;
    OnMainWindowCreated();
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return window;
}

void OnMainWindowCreated() {
    StartWebEngine();
    HWND window = g_mainWindow.window;
    g_webView->Create(window, 1);
    SetControlText(g_mainWindow.编辑框_保存路径, ProgramFolder() + "\\");
}

void OnMainWindowDestroying() {
    g_webView->Destroy();
    StopWebEngine();
}
