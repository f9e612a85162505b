// qldriver: the driver from the command line, for shell scripts (also under Wine from bash).
// Arguments are taken from GetCommandLineW (so non-ASCII text survives); output is UTF-8.
#include <windows.h>
#include <shellapi.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/driver/driver.h"

namespace {

constexpr char kUsage[] =
    "usage: qldriver [--pid N] [--caption TEXT] [--timeout SECONDS] COMMAND [ARGS]\n"
    "  start FOLDER [PROGRAM [NAME=VALUE...]]   start PROGRAM (quorlane.exe) and print its pid\n"
    "  wait-window                              wait for the main window; print its pid\n"
    "  list                                     every control: index class id x,y w x h flags text\n"
    "  read CONTROL                             print the control's text\n"
    "  state CONTROL                            print enabled=, visible=, checked=\n"
    "  set-text CONTROL TEXT                    set the control's text\n"
    "  set-text-file CONTROL FILE               set it to the UTF-8 contents of FILE\n"
    "  click CONTROL                            click a button (does not wait for its handler)\n"
    "  tick CONTROL | untick CONTROL            set a check box\n"
    "  key CONTROL KEY                          press KEY (tab, enter, escape or a number)\n"
    "  wait-text CONTROL TEXT                   wait until the control's text is TEXT\n"
    "  wait-box [TEXT]                          wait for a message box (containing TEXT); print it\n"
    "  ok-box                                   press OK on the message box and wait until it goes\n"
    "  close                                    close the main window; wait; print the exit code\n"
    "  wait-exit                                wait for the program's end; print the exit code\n"
    "  shot FILE [CONTROL]                      save the window (or control) as shown to a BMP\n"
    "  pixel X Y                                print the screen pixel as RRGGBB\n"
    "  stats                                    print the process' working set, private bytes (KiB),\n"
    "                                           handle count and GDI and USER objects\n"
    "CONTROL: #N (N-th control, from 0, as list shows), CLASS#N (N-th of that class) or its text.\n"
    "Exit status: 0 done, 1 not found or timed out, 2 usage.\n";

void Print(const std::string& utf8) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
              nullptr);
}
void PrintLine(const std::wstring& text) { Print(driver::ToUtf8(text) + "\n"); }
void Fail(const std::string& message) {
    DWORD written = 0;
    std::string line = "qldriver: " + message + "\n";
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
              nullptr);
}

std::string ReadFileUtf8(const std::wstring& path, bool& ok) {
    std::string data;
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ok = static_cast<bool>(file);
    char chunk[4096];
    DWORD got = 0;
    while (file && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) data.append(chunk, got);
    return data;
}

struct Options {
    DWORD pid = 0;
    std::wstring caption = driver::kMainCaption;
    DWORD timeout = driver::kWait;
};

class Session {
public:
    explicit Session(const Options& options) : options_(options) {}

    HWND Window(bool wait = true) {
        if (window_) return window_;
        auto find = [&] { return (window_ = driver::FindMainWindow(options_.pid, options_.caption)) != nullptr; };
        if (wait) driver::WaitUntil(find, options_.timeout);
        else find();
        if (!window_) Fail("no window \"" + driver::ToUtf8(options_.caption) + "\"");
        return window_;
    }
    DWORD Pid() {
        if (options_.pid) return options_.pid;
        HWND window = Window();
        DWORD pid = 0;
        if (window) GetWindowThreadProcessId(window, &pid);
        return pid;
    }
    HWND Control(const std::wstring& query) {
        HWND window = Window();
        if (!window) return nullptr;
        HWND control = driver::FindControl(window, query);
        if (!control) Fail("no control " + driver::ToUtf8(query));
        return control;
    }

private:
    Options options_;
    HWND window_ = nullptr;
};

std::wstring Flags(HWND control) {
    std::wstring flags;
    flags += driver::IsEnabled(control) ? L'e' : L'-';
    flags += (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) ? L'v' : L'-';
    flags += driver::CheckState(control) == BST_CHECKED ? L'c' : L'-';
    return flags;
}

// The handles a process holds, from the system's table of all handles (Wine answers the
// per-process count for other processes with 0). 0 when the table cannot be read.
DWORD HandlesOf(DWORD pid) {
    struct Entry {
        void* object;
        ULONG_PTR processId;
        ULONG_PTR handle;
        ULONG access;
        USHORT backTrace;
        USHORT typeIndex;
        ULONG attributes;
        ULONG reserved;
    };
    struct Table {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    using QueryFn = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    constexpr int kExtendedHandleInformation = 64;
    std::vector<unsigned char> buffer(1 << 20);
    for (int attempt = 0; attempt < 6; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(kExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const Table* table = reinterpret_cast<const Table*>(buffer.data());
            DWORD count = 0;
            for (ULONG_PTR k = 0; k < table->count; ++k) count += table->entries[k].processId == pid ? 1 : 0;
            return count;
        }
        if (status != static_cast<LONG>(0xC0000004)) return 0;  // anything but "the buffer is too small"
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
    }
    return 0;
}

int Run(const std::vector<std::wstring>& args) {
    Options options;
    size_t i = 0;
    for (; i + 1 < args.size() && args[i].rfind(L"--", 0) == 0; i += 2) {
        if (args[i] == L"--pid") options.pid = static_cast<DWORD>(std::wcstoul(args[i + 1].c_str(), nullptr, 10));
        else if (args[i] == L"--caption") options.caption = args[i + 1];
        else if (args[i] == L"--timeout")
            options.timeout = static_cast<DWORD>(std::wcstoul(args[i + 1].c_str(), nullptr, 10) * 1000);
        else return Print(kUsage), 2;
    }
    if (i >= args.size()) return Print(kUsage), 2;
    const std::wstring command = args[i];
    std::vector<std::wstring> a(args.begin() + static_cast<long>(i) + 1, args.end());
    auto need = [&](size_t n) { return a.size() >= n; };
    Session session(options);

    if (command == L"start" && need(1)) {
        driver::LaunchOptions launch;
        launch.folder = a[0];
        if (a.size() > 1) launch.program = a[1];
        for (size_t k = 2; k < a.size(); ++k) {
            size_t eq = a[k].find(L'=');
            if (eq == std::wstring::npos || eq == 0) return Print(kUsage), 2;
            launch.environment.emplace_back(a[k].substr(0, eq), a[k].substr(eq + 1));
        }
        DWORD error = 0;
        auto program = driver::Program::Start(launch, &error);
        if (!program) return Fail("cannot start " + driver::ToUtf8(launch.program) + " (error " +
                                  std::to_string(error) + ")"), 1;
        program->Detach();
        Print(std::to_string(program->Id()) + "\n");
        return 0;
    }
    if (command == L"wait-window") {
        if (!session.Window()) return 1;
        Print(std::to_string(session.Pid()) + "\n");
        return 0;
    }
    if (command == L"list") {
        HWND window = session.Window();
        if (!window) return 1;
        std::vector<HWND> all = driver::Descendants(window);
        for (size_t k = 0; k < all.size(); ++k) {
            RECT r = driver::RectInParent(all[k]);
            wchar_t line[160];
            std::swprintf(line, std::size(line), L"#%u %ls %d %ld,%ld %ldx%ld %ls ", static_cast<unsigned>(k),
                          driver::ClassName(all[k]).c_str(), GetDlgCtrlID(all[k]), r.left, r.top,
                          r.right - r.left, r.bottom - r.top, Flags(all[k]).c_str());
            PrintLine(line + driver::Text(all[k]));
        }
        return 0;
    }
    if ((command == L"read" || command == L"state") && need(1)) {
        HWND control = session.Control(a[0]);
        if (!control) return 1;
        if (command == L"read") {
            PrintLine(driver::Text(control));
        } else {
            Print("enabled=" + std::to_string(driver::IsEnabled(control)) + " visible=" +
                  std::to_string(driver::IsShown(control)) + " checked=" +
                  std::to_string(driver::CheckState(control)) + "\n");
        }
        return 0;
    }
    if ((command == L"set-text" || command == L"set-text-file") && need(2)) {
        std::wstring text = a[1];
        if (command == L"set-text-file") {
            bool ok = false;
            std::string data = ReadFileUtf8(a[1], ok);
            if (!ok) return Fail("cannot read " + driver::ToUtf8(a[1])), 1;
            if (data.rfind("\xEF\xBB\xBF", 0) == 0) data.erase(0, 3);
            text = driver::FromUtf8(data);
        }
        HWND control = session.Control(a[0]);
        return control && driver::SetText(control, text) ? 0 : 1;
    }
    if ((command == L"click" || command == L"tick" || command == L"untick") && need(1)) {
        HWND control = session.Control(a[0]);
        if (!control) return 1;
        bool ok = command == L"click" ? driver::Click(control)
                                      : driver::SetChecked(control, command == L"tick", options.timeout);
        if (!ok) Fail("cannot use " + driver::ToUtf8(a[0]) + " now");
        return ok ? 0 : 1;
    }
    if (command == L"key" && need(2)) {
        UINT key = a[1] == L"tab"      ? VK_TAB
                   : a[1] == L"enter"  ? VK_RETURN
                   : a[1] == L"escape" ? VK_ESCAPE
                                       : static_cast<UINT>(std::wcstoul(a[1].c_str(), nullptr, 0));
        HWND control = session.Control(a[0]);
        return control && key && driver::PostKey(control, key) ? 0 : 1;
    }
    if (command == L"wait-text" && need(2)) {
        HWND control = session.Control(a[0]);
        if (!control) return 1;
        if (driver::WaitUntil([&] { return driver::Text(control) == a[1]; }, options.timeout)) return 0;
        Fail("text is still \"" + driver::ToUtf8(driver::Text(control)) + "\"");
        return 1;
    }
    if (command == L"wait-box") {
        DWORD pid = session.Pid();
        auto box = pid ? driver::WaitForMessageBox(pid, a.empty() ? L"" : a[0], options.timeout) : std::nullopt;
        if (!box) return Fail("no message box"), 1;
        PrintLine(box->caption);
        PrintLine(box->text);
        return 0;
    }
    if (command == L"ok-box") {
        DWORD pid = session.Pid();
        auto box = pid ? driver::WaitForMessageBox(pid, L"", options.timeout) : std::nullopt;
        if (!box) return Fail("no message box"), 1;
        return driver::PressButton(box->window, IDOK, options.timeout) ? 0 : 1;
    }
    if (command == L"close" || command == L"wait-exit") {
        DWORD pid = session.Pid();
        auto program = pid ? driver::Program::Attach(pid) : std::nullopt;
        if (!program) return Fail("no such process"), 1;
        if (command == L"close" && !program->Close(options.caption)) return Fail("cannot close"), 1;
        std::optional<int> code = program->WaitForExit(options.timeout);
        if (!code) return Fail("still running"), 1;
        Print(std::to_string(*code) + "\n");
        return 0;
    }
    if (command == L"stats") {
        DWORD pid = session.Pid();
        ScopedHandle process(pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr);
        if (!process) return Fail("no such process"), 1;
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof memory;
        if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
            return Fail("cannot read the process' memory counters"), 1;
        DWORD handles = 0;
        if (!GetProcessHandleCount(process, &handles) || handles == 0) handles = HandlesOf(pid);
        Print("workingSetKiB=" + std::to_string(memory.WorkingSetSize / 1024) + " privateKiB=" +
              std::to_string(memory.PrivateUsage / 1024) + " handles=" + std::to_string(handles) +
              " gdi=" + std::to_string(GetGuiResources(process, GR_GDIOBJECTS)) +
              " user=" + std::to_string(GetGuiResources(process, GR_USEROBJECTS)) + "\n");
        return 0;
    }
    if (command == L"shot" && need(1)) {
        HWND target = a.size() > 1 ? session.Control(a[1]) : session.Window();
        if (!target) return 1;
        auto image = driver::Capture(target);
        if (!image || !image->SaveBmp(a[0])) return Fail("cannot save " + driver::ToUtf8(a[0])), 1;
        return 0;
    }
    if (command == L"pixel" && need(2)) {
        auto pixel = driver::ScreenPixel(std::wcstol(a[0].c_str(), nullptr, 10), std::wcstol(a[1].c_str(), nullptr, 10));
        if (!pixel) return 1;
        char hex[16];
        std::snprintf(hex, sizeof hex, "%06X\n", *pixel);
        Print(hex);
        return 0;
    }
    Print(kUsage);
    return 2;
}

}  // namespace

int wmain() {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return 2;
    std::vector<std::wstring> args(argv + (count > 0 ? 1 : 0), argv + count);
    LocalFree(argv);
    return Run(args);
}
