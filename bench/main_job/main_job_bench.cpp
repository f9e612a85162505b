// The main job's costs, each side by side with the way first described:
//   wait   CPU time per second of waiting: WaitWithEvents against a busy poll of the queue;
//   capture  peak memory of capturing a 1280 x 20,000 page: one buffer against two.
// Peak memory is a per-process figure, so each capture runs in a process of its own:
//   main_job_bench              runs everything and prints the table
//   main_job_bench capture one|two   (used by the first form)
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/wait_with_events.h"
#include "base/scoped_win.h"
#include "tests/test_engine/test_engine_control.h"
#include "webview/bmp_layout.h"
#include "webview/web_view_host.h"

namespace {

double CpuSeconds() {
    FILETIME creation, exit, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// The wait as first described: poll the queue and the tick counter without ever sleeping.
void BusyWait(int ms) {
    if (ms <= 0) return;
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (msg.message == WM_QUIT) break;
            PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (GetTickCount() > start + static_cast<DWORD>(ms)) return;
    }
}

template <typename Wait>
double CpuPerSecondOfWaiting(Wait wait, int seconds) {
    double before = CpuSeconds();
    for (int i = 0; i < seconds; ++i) wait(1000);
    return (CpuSeconds() - before) / seconds;
}

// The capture as first described: the engine paints into a buffer of its own, which is then
// copied behind the headers of a second one.
ByteBuffer CaptureWithTwoBuffers(wkeWebView view) {
    int w = wkeContentsWidth(view), h = wkeContentsHeight(view);
    int vw = wkeWidth(view), vh = wkeHeight(view);
    wkeResize(view, w, h);
    auto s = BmpPixelAreaSize(w, h);
    ByteBuffer pixels(static_cast<size_t>(*s));
    wkePaint(view, pixels.data(), 0);
    ByteBuffer image(BmpFileSize(*s));
    WriteBmpHeaders(image.data(), w, h, *s);
    std::memcpy(image.data() + kBmpHeadersSize, pixels.data(), pixels.size());
    wkeResize(view, vw, vh);
    return image;
}

int RunCapture(bool oneBuffer) {
    wkeInit();
    test_engine::TestEngine engine;
    engine.Script("size 1280 20000");
    HWND window = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600,
                                  nullptr, nullptr, nullptr, nullptr);
    WebViewHost host;
    host.Create(window, 0);
    host.LoadUrl("http://bench/");
    PROCESS_MEMORY_COUNTERS before{};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    size_t bytes = oneBuffer ? host.CapturePage().size() : CaptureWithTwoBuffers(host.view).size();
    PROCESS_MEMORY_COUNTERS after{};
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    // The resident high-water mark: Wine keeps no peak of the committed size, and both ways of
    // capturing touch every byte they allocate (the buffers are zero-filled).
    std::printf("%zu %zu\n", bytes, static_cast<size_t>(after.PeakWorkingSetSize - before.WorkingSetSize));
    host.Finalize();
    return 0;
}

std::string RunSelf(const char* mode) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" capture " +
                           std::wstring(mode, mode + std::strlen(mode));
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return std::string();
    ScopedHandle read(readEnd);
    ScopedHandle write(writeEnd);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    std::string out;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return out;
    ScopedHandle process(pi.hProcess);
    ScopedHandle thread(pi.hThread);
    write.Reset();  // the child holds the only write end now: its exit ends the reading
    char chunk[256];
    DWORD got;
    while (ReadFile(read, chunk, sizeof chunk, &got, nullptr) && got) out.append(chunk, got);
    WaitForSingleObject(process, INFINITE);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "capture") == 0)
        return RunCapture(std::strcmp(argv[2], "one") == 0);

    const int seconds = 5;
    double sleeping = CpuPerSecondOfWaiting(WaitWithEvents, seconds);
    double busy = CpuPerSecondOfWaiting(BusyWait, seconds);
    std::printf("wait: CPU seconds per second of waiting (%d s each)\n", seconds);
    std::printf("  %-28s %8.4f\n", "WaitWithEvents", sleeping);
    std::printf("  %-28s %8.4f\n", "busy poll", busy);

    size_t oneBytes = 0, onePeak = 0, twoBytes = 0, twoPeak = 0;
    std::sscanf(RunSelf("one").c_str(), "%zu %zu", &oneBytes, &onePeak);
    std::sscanf(RunSelf("two").c_str(), "%zu %zu", &twoBytes, &twoPeak);
    std::printf("capture 1280 x 20000: image bytes, peak working set added by the capture (MB)\n");
    std::printf("  %-28s %12zu %10.1f\n", "one buffer (CapturePage)", oneBytes, onePeak / 1048576.0);
    std::printf("  %-28s %12zu %10.1f\n", "two buffers", twoBytes, twoPeak / 1048576.0);
    return 0;
}
