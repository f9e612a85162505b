#include "tests/driver/driver.h"

#include <cwchar>

namespace driver {
namespace {

constexpr UINT kSendTimeout = 5000;  // ms for one sent message: the program may be busy

std::wstring ToWide(UINT codePage, std::string_view text) {
    if (text.empty()) return std::wstring();
    int units = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), units);
    return out;
}

std::string FromWide(UINT codePage, std::wstring_view text) {
    if (text.empty()) return std::string();
    int bytes = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes,
                            nullptr, nullptr);
    return out;
}

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeout,
                               result) != 0;
}

struct TopLevelSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<TopLevelSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((search->processId == 0 || owner == search->processId) && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

void AddDescendants(HWND parent, std::vector<HWND>& out) {
    for (HWND child : Children(parent)) {
        out.push_back(child);
        AddDescendants(child, out);
    }
}

std::optional<int> ParseIndex(std::wstring_view digits) {
    if (digits.empty() || digits.size() > 6) return std::nullopt;
    int value = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + (c - L'0');
    }
    return value;
}

}  // namespace

std::wstring FromGbk(std::string_view gbk) { return ToWide(936, gbk); }
std::string ToGbk(std::wstring_view text) { return FromWide(936, text); }
std::wstring FromUtf8(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }
std::string ToUtf8(std::wstring_view text) { return FromWide(CP_UTF8, text); }

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return condition();
        Sleep(10);
    }
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
    TopLevelSearch search{processId, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindMainWindow(DWORD processId, std::wstring_view caption) {
    HWND dialog = nullptr;
    for (HWND window : TopLevelWindows(processId)) {
        if (Text(window) != caption) continue;
        if (ClassName(window) != L"#32770") return window;
        if (!dialog) dialog = window;
    }
    // A common dialog (the open-file dialog) is found by its caption too, after any other window.
    return dialog;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

std::vector<HWND> Descendants(HWND root) {
    std::vector<HWND> all;
    AddDescendants(root, all);
    return all;
}

HWND FindByText(HWND root, std::wstring_view text, std::wstring_view windowClass) {
    for (HWND window : Descendants(root))
        if (Text(window) == text && (windowClass.empty() || ClassName(window) == windowClass))
            return window;
    return nullptr;
}

HWND FindByClass(HWND root, std::wstring_view windowClass, int index) {
    for (HWND window : Descendants(root))
        if (_wcsicmp(ClassName(window).c_str(), std::wstring(windowClass).c_str()) == 0 && index-- == 0)
            return window;
    return nullptr;
}

HWND ControlAt(HWND root, std::wstring_view windowClass, int x, int y) {
    for (HWND control : Descendants(root)) {
        RECT r = RectInParent(control);
        if (r.left == x && r.top == y && _wcsicmp(ClassName(control).c_str(), std::wstring(windowClass).c_str()) == 0)
            return control;
    }
    return nullptr;
}

HWND FindControl(HWND root, std::wstring_view query) {
    size_t hash = query.rfind(L'#');
    if (hash != std::wstring_view::npos) {
        if (std::optional<int> index = ParseIndex(query.substr(hash + 1))) {
            if (hash == 0) {
                std::vector<HWND> all = Descendants(root);
                return *index < static_cast<int>(all.size()) ? all[static_cast<size_t>(*index)] : nullptr;
            }
            if (HWND found = FindByClass(root, query.substr(0, hash), *index)) return found;
        }
    }
    return FindByText(root, query);
}

std::wstring Text(HWND window) {
    DWORD_PTR length = 0;
    if (!Send(window, WM_GETTEXTLENGTH, 0, 0, &length)) return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &got))
        return std::wstring();
    text.resize(got < text.size() ? static_cast<size_t>(got) : text.size() - 1);
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256];
    int n = GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring(name, static_cast<size_t>(n > 0 ? n : 0));
}

RECT ScreenRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

RECT RectInParent(HWND window) {
    RECT rect = ScreenRect(window);
    HWND parent = GetAncestor(window, GA_PARENT);
    if (parent && parent != GetDesktopWindow())
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool IsEnabled(HWND window) { return IsWindowEnabled(window) != FALSE; }
bool IsShown(HWND window) { return IsWindowVisible(window) != FALSE; }

bool IsReachable(HWND window) {
    if (!IsWindow(window) || !IsShown(window)) return false;
    for (HWND w = window; w && w != GetDesktopWindow(); w = GetAncestor(w, GA_PARENT))
        if (!IsEnabled(w)) return false;
    return true;
}

int CheckState(HWND button) {
    DWORD_PTR state = 0;
    return Send(button, BM_GETCHECK, 0, 0, &state) ? static_cast<int>(state) : 0;
}

ControlInfo Inspect(HWND window) {
    ControlInfo info;
    info.window = window;
    info.parent = GetAncestor(window, GA_PARENT);
    info.text = Text(window);
    info.windowClass = ClassName(window);
    info.style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    info.exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    info.id = GetDlgCtrlID(window);
    info.screen = ScreenRect(window);
    info.inParent = RectInParent(window);
    info.enabled = IsEnabled(window);
    info.visible = (info.style & WS_VISIBLE) != 0;
    info.check = CheckState(window);
    return info;
}

bool SetText(HWND window, std::wstring_view text) {
    std::wstring copy(text);
    DWORD_PTR result = 0;
    return Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copy.c_str()), &result) && result;
}

bool Click(HWND button) {
    if (!IsReachable(button)) return false;
    return PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

bool SetChecked(HWND checkBox, bool ticked, DWORD timeoutMs) {
    int wanted = ticked ? BST_CHECKED : BST_UNCHECKED;
    if (CheckState(checkBox) == wanted) return true;
    if (!Click(checkBox)) return false;
    return WaitUntil([&] { return CheckState(checkBox) == wanted; }, timeoutMs);
}

bool PostKey(HWND window, UINT virtualKey) {
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16;
    return PostMessageW(window, WM_KEYDOWN, virtualKey, scan | 1) &&
           PostMessageW(window, WM_KEYUP, virtualKey, scan | 1 | (1 << 30) | (1u << 31));
}

std::vector<HWND> Dialogs(DWORD processId) {
    std::vector<HWND> dialogs;
    for (HWND window : TopLevelWindows(processId))
        if (ClassName(window) == L"#32770") dialogs.push_back(window);
    return dialogs;
}

MessageBoxInfo ReadMessageBox(HWND box) {
    MessageBoxInfo info;
    info.window = box;
    info.caption = Text(box);
    for (HWND child : Children(box)) {
        std::wstring cls = ClassName(child);
        std::wstring text = Text(child);
        if (_wcsicmp(cls.c_str(), L"Static") == 0 && !text.empty()) {
            if (!info.text.empty()) info.text += L'\n';
            info.text += text;
        } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
            info.buttons.push_back(text);
        }
    }
    return info;
}

std::optional<MessageBoxInfo> WaitForMessageBox(DWORD processId, std::wstring_view textPart,
                                                DWORD timeoutMs) {
    std::optional<MessageBoxInfo> found;
    WaitUntil(
        [&] {
            for (HWND box : Dialogs(processId)) {
                MessageBoxInfo info = ReadMessageBox(box);
                if (info.text.find(textPart) != std::wstring::npos) {
                    found = std::move(info);
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool PressButton(HWND box, int id, DWORD timeoutMs) {
    HWND button = GetDlgItem(box, id);
    if (!button || !Click(button)) return false;
    return WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, timeoutMs);
}

// ---- processes ------------------------------------------------------------------------------------

std::optional<Program> Program::Start(const LaunchOptions& options, DWORD* error) {
    // This process' environment with the additions laid over it.
    std::vector<std::wstring> entries;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) entries.emplace_back(p);
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : options.environment) {
        std::wstring prefix = name + L"=";
        std::erase_if(entries, [&](const std::wstring& entry) {
            return _wcsnicmp(entry.c_str(), prefix.c_str(), prefix.size()) == 0;
        });
        entries.push_back(prefix + value);
    }
    std::wstring environment;
    for (const std::wstring& entry : entries) environment += entry + L'\0';
    environment += L'\0';

    std::wstring path = options.folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    path += options.program;
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!options.arguments.empty()) commandLine += L" " + options.arguments;
    std::wstring directory = options.workingDirectory.empty() ? options.folder : options.workingDirectory;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, environment.data(),
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
        if (error) *error = GetLastError();
        return std::nullopt;
    }
    ScopedHandle thread(info.hThread);
    Program program;
    program.process_.Reset(info.hProcess);
    program.id_ = info.dwProcessId;
    program.owned_ = true;
    return program;
}

std::optional<Program> Program::Attach(DWORD processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                                 FALSE, processId);
    if (!process) process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return std::nullopt;
    Program program;
    program.process_.Reset(process);
    program.id_ = processId;
    return program;
}

Program::~Program() {
    if (!process_ || !owned_ || !Running()) return;
    // Left running by a test that failed half-way: ask first, then end it.
    Close();
    if (WaitForSingleObject(process_, 3000) == WAIT_OBJECT_0) return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
}

bool Program::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

HWND Program::MainWindow(std::wstring_view caption) const { return FindMainWindow(id_, caption); }

HWND Program::WaitForMainWindow(DWORD timeoutMs, std::wstring_view caption) const {
    HWND window = nullptr;
    WaitUntil([&] { return (window = MainWindow(caption)) != nullptr || !Running(); }, timeoutMs);
    return window;
}

std::optional<MessageBoxInfo> Program::WaitForMessageBox(std::wstring_view textPart,
                                                         DWORD timeoutMs) const {
    return driver::WaitForMessageBox(id_, textPart, timeoutMs);
}

bool Program::Close(std::wstring_view caption) const {
    HWND window = MainWindow(caption);
    return window && PostMessageW(window, WM_CLOSE, 0, 0);
}

std::optional<int> Program::WaitForExit(DWORD timeoutMs) const {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process_, &code)) return std::nullopt;
    return static_cast<int>(code);
}

// ---- the screen --------------------------------------------------------------------------------------

bool Image::SaveBmp(const std::wstring& path) const {
    const uint32_t imageBytes = static_cast<uint32_t>(pixels.size() * 4);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageBytes;
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = -height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    info.biCompression = BI_RGB;
    info.biSizeImage = imageBytes;
    ScopedHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return false;
    DWORD written = 0;
    bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) && written == sizeof file;
    ok = ok && WriteFile(out, &info, sizeof info, &written, nullptr) && written == sizeof info;
    ok = ok && (imageBytes == 0 ||
                (WriteFile(out, pixels.data(), imageBytes, &written, nullptr) && written == imageBytes));
    return ok;
}

std::optional<Image> CaptureScreen(const RECT& rect) {
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return std::nullopt;
    ScopedGetDC screen(nullptr);
    ScopedMemDC memory(CreateCompatibleDC(screen));
    if (!screen || !memory) return std::nullopt;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    ScopedGdiObj<HBITMAP> bitmap(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return std::nullopt;
    {
        ScopedSelectObj select(memory, bitmap);
        if (!BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY)) return std::nullopt;
        GdiFlush();
    }
    Image image;
    image.width = width;
    image.height = height;
    const uint32_t* source = static_cast<const uint32_t*>(bits);
    image.pixels.assign(source, source + static_cast<size_t>(width) * height);
    for (uint32_t& p : image.pixels) p &= 0xFFFFFF;
    return image;
}

std::optional<Image> Capture(HWND window, bool clientArea) {
    RECT rect{};
    if (clientArea) {
        if (!GetClientRect(window, &rect)) return std::nullopt;
        MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&rect), 2);
    } else if (!GetWindowRect(window, &rect)) {
        return std::nullopt;
    }
    return CaptureScreen(rect);
}

std::optional<uint32_t> ScreenPixel(int x, int y) {
    std::optional<Image> image = CaptureScreen(RECT{x, y, x + 1, y + 1});
    if (!image) return std::nullopt;
    return image->pixels[0];
}

POINT ClientToScreenPoint(HWND window, int x, int y) {
    POINT point{x, y};
    ClientToScreen(window, &point);
    return point;
}

}  // namespace driver
