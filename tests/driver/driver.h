// Drives a running Quorlane the way a user would: only through window messages and window queries,
// never through the program's own code. Texts are UTF-16 here; the program's own texts are GBK, so
// FromGbk / ToGbk convert with code page 936. Every wait has a time limit and answers whether the
// condition came true; no call blocks on the program's handlers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/scoped_win.h"

namespace driver {

constexpr wchar_t kMainCaption[] = L"Quorlanev1.0";
constexpr DWORD kWait = 30000;  // ms: generous, only a guard against hangs

// ---- texts ------------------------------------------------------------------------------------
std::wstring FromGbk(std::string_view gbk);
std::string ToGbk(std::wstring_view text);
std::wstring FromUtf8(std::string_view utf8);
std::string ToUtf8(std::wstring_view text);

// Polls condition every 10 ms until it holds (true) or timeoutMs passed (false).
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kWait);

// ---- windows and controls -----------------------------------------------------------------------
std::vector<HWND> TopLevelWindows(DWORD processId);  // visible ones; processId 0: any process
// The visible top-level window with this caption, of processId (0: any process), else null.
HWND FindMainWindow(DWORD processId, std::wstring_view caption = kMainCaption);

std::vector<HWND> Children(HWND parent);   // direct children, top of the stacking order first
std::vector<HWND> Descendants(HWND root);  // every descendant: each window, then its own descendants
HWND FindByText(HWND root, std::wstring_view text, std::wstring_view windowClass = {});
HWND FindByClass(HWND root, std::wstring_view windowClass, int index = 0);  // among Descendants
// "#N" (N-th of Descendants, from 0), "Class#N" (N-th descendant of that class) or an exact text.
HWND FindControl(HWND root, std::wstring_view query);
// The descendant of this class (any case) whose top-left corner lies at (x, y) in its parent.
HWND ControlAt(HWND root, std::wstring_view windowClass, int x, int y);

std::wstring Text(HWND window);  // WM_GETTEXT, so an edit box gives its contents
std::wstring ClassName(HWND window);
RECT ScreenRect(HWND window);
RECT RectInParent(HWND window);  // relative to the parent's client area (the screen for top-level)
bool IsEnabled(HWND window);
bool IsShown(HWND window);     // visible, and so are its ancestors
bool IsReachable(HWND window);  // shown, and it and every ancestor enabled: a user could use it
int CheckState(HWND button);   // BM_GETCHECK: BST_UNCHECKED, BST_CHECKED, BST_INDETERMINATE

struct ControlInfo {
    HWND window = nullptr;
    HWND parent = nullptr;
    std::wstring text;
    std::wstring windowClass;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    RECT screen{};
    RECT inParent{};
    bool enabled = false;
    bool visible = false;  // its own WS_VISIBLE
    int check = 0;
};
ControlInfo Inspect(HWND window);

bool SetText(HWND window, std::wstring_view text);  // WM_SETTEXT
// Posts BM_CLICK and returns at once, so a handler that runs a whole batch does not hold the
// driver. False, with nothing sent, when a user could not click it (hidden or disabled).
bool Click(HWND button);
// Clicks a check box when its state differs and waits until it shows the wanted state.
bool SetChecked(HWND checkBox, bool ticked, DWORD timeoutMs = kWait);
// A key pressed and released while window has the focus: WM_KEYDOWN then WM_KEYUP, posted.
bool PostKey(HWND window, UINT virtualKey);

// ---- message boxes --------------------------------------------------------------------------------
struct MessageBoxInfo {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;                  // the box's static texts, joined by newlines
    std::vector<std::wstring> buttons;  // button texts, top of the stacking order first
};
std::vector<HWND> Dialogs(DWORD processId);  // visible top-level windows of class #32770
MessageBoxInfo ReadMessageBox(HWND box);
// The first dialog of the process whose text contains textPart (empty: any), waiting for one.
std::optional<MessageBoxInfo> WaitForMessageBox(DWORD processId, std::wstring_view textPart = {},
                                                DWORD timeoutMs = kWait);
// Clicks the box's button with this id (IDOK by default) and waits until the box is gone.
bool PressButton(HWND box, int id = IDOK, DWORD timeoutMs = kWait);

// ---- processes ------------------------------------------------------------------------------------
struct LaunchOptions {
    std::wstring folder;                    // where the program lies
    std::wstring program = L"quorlane.exe";  // its file name in folder
    std::wstring arguments;                 // command line after the program's quoted path
    std::wstring workingDirectory;          // empty: folder
    // Set in the program's environment on top of this process' own (a name given replaces it).
    std::vector<std::pair<std::wstring, std::wstring>> environment;
};

// A process the driver started (and ends, if still running, when the object goes) or attached to.
class Program {
public:
    static std::optional<Program> Start(const LaunchOptions& options, DWORD* error = nullptr);
    static std::optional<Program> Attach(DWORD processId);

    Program(Program&&) = default;
    Program& operator=(Program&&) = default;
    ~Program();

    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    bool Running() const;
    // Leave the process running when this object goes.
    void Detach() { owned_ = false; }

    HWND MainWindow(std::wstring_view caption = kMainCaption) const;
    HWND WaitForMainWindow(DWORD timeoutMs = kWait, std::wstring_view caption = kMainCaption) const;
    std::optional<MessageBoxInfo> WaitForMessageBox(std::wstring_view textPart = {},
                                                    DWORD timeoutMs = kWait) const;
    // Posts WM_CLOSE to the main window (does not wait for its handlers).
    bool Close(std::wstring_view caption = kMainCaption) const;
    // The exit code once the process has ended within the time limit.
    std::optional<int> WaitForExit(DWORD timeoutMs = kWait) const;

private:
    Program() = default;
    ScopedHandle process_;
    DWORD id_ = 0;
    bool owned_ = false;
};

// ---- the screen --------------------------------------------------------------------------------------
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // A 32-bit top-down BMP file.
    bool SaveBmp(const std::wstring& path) const;
};
// What the screen shows in rect (screen coordinates), copied from the screen's device context.
std::optional<Image> CaptureScreen(const RECT& rect);
// A window as the screen shows it: its whole rectangle, or only its client area.
std::optional<Image> Capture(HWND window, bool clientArea = false);
std::optional<uint32_t> ScreenPixel(int x, int y);  // 0x00RRGGBB
POINT ClientToScreenPoint(HWND window, int x, int y);

}  // namespace driver
