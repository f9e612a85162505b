// Quorlane itself with the Chromium-backed engine beside it: a page of known colours, served from
// 127.0.0.1 by this process, is loaded through the window like a user's batch, and the colours are
// read back from the screen inside the main window. The window's picture is kept beside the test
// (program_window.bmp) for a person to look at.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "loopback_server.h"
#include "tests/driver/driver.h"
#include "tests/driver/test_files.h"

namespace {

using driver::FilesIn;
using driver::TestFolder;

// The page: an upper band of kTop rows, the rest another colour. The upper band reaches into the
// window's top free place and the lower colour into its bottom ones, so a page drawn in the wrong
// place, or not at all, shows.
constexpr int kTop = 300;
constexpr std::uint32_t kUpper = 0x1E90C8;
constexpr std::uint32_t kLower = 0xC83C1E;

const char kPage[] =
    "<!DOCTYPE html><html style='background:#c83c1e'><head><title>colours</title></head>"
    "<body style='margin:0'><div style='height:300px;background:#1e90c8'></div>"
    "<div style='height:900px'></div></body></html>";

// Client-area places of the main window that no control covers, and the colour the page gives them.
struct Place {
    RECT rect;
    std::uint32_t colour;
};
const Place kPlaces[] = {
    {{272, 14, 348, 28}, kUpper},   // beside the list's label
    {{3, 40, 7, 290}, kUpper},      // left of the list, inside the group box, above the band's end
    {{3, 320, 7, 520}, kLower},     // the same, below it
    {{12, 529, 760, 535}, kLower},  // between the list and the buttons
    {{460, 578, 600, 600}, kLower}, // among the bottom row
};

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
            return false;
    return true;
}

// How many pixels of the place differ from its colour, and the first of them.
int WrongPixels(const driver::Image& client, const Place& place, std::string& first) {
    int wrong = 0;
    for (int y = place.rect.top; y < place.rect.bottom; ++y)
        for (int x = place.rect.left; x < place.rect.right; ++x) {
            if (x >= client.width || y >= client.height || !Near(client.At(x, y), place.colour, 2)) {
                if (wrong++ == 0 && x < client.width && y < client.height) {
                    char text[64];
                    snprintf(text, sizeof text, "(%d,%d) is %06X", x, y, client.At(x, y));
                    first = text;
                }
            }
        }
    return wrong;
}

}  // namespace

TEST(ProgramWithChromium, ShowsALocalPageInItsWindow) {
    wketest::LoopbackServer server;
    server.AddPage("/colours.html", kPage);
    ASSERT_TRUE(server.Start());

    const std::wstring saveFolder = driver::FreshFolder(L"shots");

    driver::LaunchOptions options;
    options.folder = TestFolder();
    DWORD error = 0;
    std::optional<driver::Program> program = driver::Program::Start(options, &error);
    ASSERT_TRUE(program) << "cannot start the program, error " << error;
    HWND window = program->WaitForMainWindow();
    ASSERT_NE(window, nullptr) << "no main window";

    HWND list = driver::ControlAt(window, L"Edit", 8, 36);
    HWND folder = driver::ControlAt(window, L"Edit", 80, 539);
    HWND start = driver::FindByText(window, L"开始任务", L"Button");
    ASSERT_TRUE(list && folder && start);
    ASSERT_TRUE(driver::SetText(list, driver::FromUtf8(server.Url("/colours.html"))));
    ASSERT_TRUE(driver::SetText(folder, saveFolder + L"\\"));
    ASSERT_TRUE(driver::Click(start));

    std::optional<driver::MessageBoxInfo> box = program->WaitForMessageBox(L"完成！", 120000);
    ASSERT_TRUE(box) << "the batch did not finish";
    ASSERT_TRUE(driver::PressButton(box->window));

    // The view keeps showing the page after the batch; the screen catches up within a few frames.
    std::optional<driver::Image> client;
    auto shows = [&] {
        client = driver::Capture(window, true);
        if (!client) return false;
        std::string ignored;
        for (const Place& place : kPlaces)
            if (WrongPixels(*client, place, ignored) != 0) return false;
        return true;
    };
    const bool shown = driver::WaitUntil(shows, 20000);
    std::optional<driver::Image> whole = driver::Capture(window);
    ASSERT_TRUE(whole && client);
    const std::wstring picture = TestFolder() + L"\\program_window.bmp";
    EXPECT_TRUE(whole->SaveBmp(picture));
    printf("the window's picture: %ls\n", picture.c_str());
    for (const Place& place : kPlaces) {
        std::string first;
        EXPECT_EQ(WrongPixels(*client, place, first), 0)
            << "place (" << place.rect.left << "," << place.rect.top << ")-(" << place.rect.right << ","
            << place.rect.bottom << "): " << first;
    }
    EXPECT_TRUE(shown);

    // The batch stored the page whole: both bands, the full height.
    std::vector<std::wstring> stored = FilesIn(saveFolder);
    ASSERT_EQ(stored.size(), 1u);
    std::optional<std::vector<std::uint8_t>> file = driver::ReadBytes(saveFolder + L"\\" + stored[0]);
    ASSERT_TRUE(file);
    const std::vector<std::uint8_t>& bmp = *file;
    ASSERT_GE(bmp.size(), 54u);
    std::int32_t width = 0, height = 0;
    memcpy(&width, &bmp[18], 4);
    memcpy(&height, &bmp[22], 4);
    ASSERT_LT(height, 0) << "not top-down";
    height = -height;
    EXPECT_EQ(height, 1200);
    ASSERT_EQ(bmp.size(), 54u + static_cast<std::uint64_t>(width) * height * 4);
    auto pixel = [&](int x, int y) {
        const std::uint8_t* p = &bmp[54 + (static_cast<size_t>(y) * width + x) * 4];
        return static_cast<std::uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
    };
    EXPECT_EQ(pixel(width / 2, kTop - 1), kUpper);
    EXPECT_EQ(pixel(width / 2, kTop), kLower);
    EXPECT_EQ(pixel(width / 2, height - 1), kLower);

    ASSERT_TRUE(program->Close());
    EXPECT_EQ(program->WaitForExit(60000), std::optional<int>(0));
}
