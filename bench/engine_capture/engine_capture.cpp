// Benchmark: the engine's whole-page capture (resize to the contents, then one paint) of an
// 800-pixel-wide band page of the height given, five rounds, each from the window-sized view.
// Writes the page to the path given (the peer takes the same file), prints every round's time
// and the rows it got wrong, then the median.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "../../engine/wke.h"
#include "test_pages.h"

namespace {

// Rows of a B,G,R,A frame that differ from the band page's, and the first of them (-1: none).
int WrongRows(const uint8_t* bits, int width, int height, int& first) {
    int wrong = 0;
    first = -1;
    for (int y = 0; y < height; ++y) {
        const uint8_t b = static_cast<uint8_t>(7 + 60 * (y >> 16)), g = static_cast<uint8_t>((y >> 8) & 255),
                      r = static_cast<uint8_t>(y & 255);
        const uint8_t* row = bits + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = row + 4 * x;
            if (p[0] != b || p[1] != g || p[2] != r || p[3] != 255) {
                if (first < 0) first = y;
                ++wrong;
                break;
            }
        }
    }
    return wrong;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: engine_capture PAGE.html HEIGHT\n");
        return 2;
    }
    const int kWidth = 800, kHeight = static_cast<int>(wcstol(argv[2], nullptr, 10));
    if (kHeight <= 0) return 2;
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
    printf("engine_size h=%d %dx%d\n", kHeight, w, h);
    if (w != kWidth || h != kHeight) {
        wkeDestroyWebView(view);
        wkeShutdown();
        return 1;
    }
    std::unique_ptr<uint8_t[]> bits(new uint8_t[static_cast<size_t>(w) * h * 4]());
    std::unique_ptr<uint8_t[]> small(new uint8_t[800 * 600 * 4]);

    constexpr int kRounds = 5;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> rounds;
    bool exact = true;
    for (int round = 0; round < kRounds; ++round) {
        wkeResize(view, 800, 600);
        wkePaint(view, small.get(), 0);
        std::fill_n(bits.get(), static_cast<size_t>(w) * h * 4, uint8_t{0});
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        wkeResize(view, w, h);
        wkePaint(view, bits.get(), 0);
        QueryPerformanceCounter(&end);
        rounds.push_back(double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
        int first = -1;
        const int wrong = WrongRows(bits.get(), w, h, first);
        exact = exact && wrong == 0;
        printf("engine_round h=%d round=%d seconds=%.3f wrong_rows=%d first_wrong=%d\n", kHeight, round + 1,
               rounds.back(), wrong, first);
        fflush(stdout);
    }
    std::sort(rounds.begin(), rounds.end());
    printf("engine_exact h=%d %s\n", kHeight, exact ? "yes" : "no");
    printf("engine_median h=%d seconds=%.3f\n", kHeight, rounds[rounds.size() / 2]);
    wkeDestroyWebView(view);
    wkeShutdown();
    return exact ? 0 : 1;
}
