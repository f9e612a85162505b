// Benchmark: the engine's whole-page capture (resize to the contents, then one paint) of an
// 800 x 40,000 band page. Writes the page to the path given, prints the time and checks the pixels.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "../../engine/wke.h"
#include "test_pages.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: engine_capture PAGE.html\n");
        return 2;
    }
    const int kWidth = 800, kHeight = 40000;
    std::string html = wketest::BandPage(kWidth, kHeight);
    HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    WriteFile(file, html.data(), static_cast<DWORD>(html.size()), &written, nullptr);
    CloseHandle(file);

    wkeInit();
    wkeWebView view = wkeCreateWebView();
    if (!view) return 3;
    wkeLoadFileW(view, argv[1]);
    wketest::PumpUntil([&] { return (wkeIsLoadComplete(view) & 0xFF) != 0; }, 60000);
    const int w = wkeContentsWidth(view), h = wkeContentsHeight(view);
    std::unique_ptr<uint8_t[]> bits(new uint8_t[static_cast<size_t>(w) * h * 4]());

    LARGE_INTEGER frequency, start, resized, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    wkeResize(view, w, h);
    QueryPerformanceCounter(&resized);
    wkePaint(view, bits.get(), 0);
    QueryPerformanceCounter(&end);
    double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    double resizeSeconds = double(resized.QuadPart - start.QuadPart) / double(frequency.QuadPart);

    std::string where;
    bool exact = w == kWidth && h == kHeight && wketest::BandFrameMatches(bits.get(), w, h, size_t(w) * 4, where);
    printf("engine_size=%dx%d\n", w, h);
    printf("engine_exact=%s %s\n", exact ? "yes" : "no", where.c_str());
    printf("engine_resize_seconds=%.3f\n", resizeSeconds);
    printf("engine_seconds=%.3f\n", seconds);
    wkeDestroyWebView(view);
    wkeShutdown();
    return exact ? 0 : 1;
}
