// Benchmark: the engine's whole-page capture (resize to the contents, then one paint) of an
// 800 x 40,000 band page, several rounds, each from the window-sized view. Writes the page to the
// path given, prints each round's time and their median, and checks the pixels of every round.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

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

    constexpr int kRounds = 5;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    auto since = [&](const LARGE_INTEGER& from) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return double(now.QuadPart - from.QuadPart) / double(frequency.QuadPart);
    };
    std::vector<double> rounds;
    bool exact = w == kWidth && h == kHeight;
    std::string where;
    std::unique_ptr<uint8_t[]> small(new uint8_t[800 * 600 * 4]);
    for (int round = 0; round < kRounds && exact; ++round) {
        wkeResize(view, 800, 600);
        wkePaint(view, small.get(), 0);
        std::fill_n(bits.get(), static_cast<size_t>(w) * h * 4, uint8_t{0});
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        wkeResize(view, w, h);
        wkePaint(view, bits.get(), 0);
        rounds.push_back(since(start));
        exact = wketest::BandFrameMatches(bits.get(), w, h, size_t(w) * 4, where);
        printf("engine_round_seconds=%.3f\n", rounds.back());
    }
    std::sort(rounds.begin(), rounds.end());
    printf("engine_size=%dx%d\n", w, h);
    printf("engine_exact=%s %s\n", exact ? "yes" : "no", where.c_str());
    printf("engine_seconds=%.3f\n", rounds.empty() ? 0.0 : rounds[rounds.size() / 2]);
    wkeDestroyWebView(view);
    wkeShutdown();
    return exact ? 0 : 1;
}
