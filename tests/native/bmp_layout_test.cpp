#include "webview/bmp_layout.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

// The headers in a buffer of exactly 54 bytes, so that a write past them is caught.
std::vector<std::uint8_t> Headers(std::int32_t width, std::int32_t height, std::int32_t size) {
    std::vector<std::uint8_t> headers(kBmpHeadersSize, 0xCC);
    WriteBmpHeaders(headers.data(), width, height, size);
    return headers;
}

TEST(BmpLayout, HeadersOfA1024By3000Page) {
    const auto size = BmpPixelAreaSize(1024, 3000);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(*size, 12'288'000);
    EXPECT_EQ(BmpFileSize(*size), 12'288'054u);

    const std::vector<std::uint8_t> expected = {
        0x42, 0x4D,              // "BM"
        0x36, 0x80, 0xBB, 0x00,  // bfSize 12,288,054
        0x00, 0x00, 0x00, 0x00,  // reserved
        0x36, 0x00, 0x00, 0x00,  // bfOffBits 54
        0x28, 0x00, 0x00, 0x00,  // biSize 40
        0x00, 0x04, 0x00, 0x00,  // biWidth 1024
        0x48, 0xF4, 0xFF, 0xFF,  // biHeight -3000
        0x01, 0x00,              // biPlanes 1
        0x20, 0x00,              // biBitCount 32
        0x00, 0x00, 0x00, 0x00,  // biCompression BI_RGB
        0x00, 0x80, 0xBB, 0x00,  // biSizeImage 12,288,000
        0xC4, 0x0E, 0x00, 0x00,  // biXPelsPerMeter 3780
        0xC4, 0x0E, 0x00, 0x00,  // biYPelsPerMeter 3780
        0x00, 0x00, 0x00, 0x00,  // biClrUsed
        0x00, 0x00, 0x00, 0x00,  // biClrImportant
    };
    EXPECT_EQ(Headers(1024, 3000, *size), expected);
}

TEST(BmpLayout, EmptyPageGivesOnlyTheHeaders) {
    for (const auto& [width, height] : {std::pair{0, 0}, {0, 3000}, {1024, 0}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        const auto size = BmpPixelAreaSize(width, height);
        ASSERT_TRUE(size.has_value());
        EXPECT_EQ(*size, 0);
        EXPECT_EQ(BmpFileSize(*size), 54u);
        const auto headers = Headers(width, height, *size);
        EXPECT_EQ(headers[2], 54);
        EXPECT_EQ(headers[34], 0);
        EXPECT_EQ(headers[18], static_cast<std::uint8_t>(width));
        EXPECT_EQ(headers[19], static_cast<std::uint8_t>(width >> 8));
        // -3000 or -0.
        EXPECT_EQ(headers[22], height ? 0x48 : 0x00);
    }
}

struct FitCase {
    std::int32_t width;
    std::int32_t height;
    std::optional<std::int32_t> size;
};

TEST(BmpLayout, PixelAreaFitsOnlyWhenTheFileSizeFits32Bits) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    const FitCase cases[] = {
        // The largest S with S + 54 <= 2,147,483,647 is 2,147,483,592 (536,870,898 pixels).
        {1, 536'870'898, 2'147'483'592},
        {2, 268'435'449, 2'147'483'592},
        {1, 536'870'899, std::nullopt},
        {1280, 419'430, 2'147'481'600},
        {1280, 419'431, std::nullopt},
        {1280, 100'000, 512'000'000},
        // Products that wrap around in 32 bits must not look small.
        {65'536, 65'536, std::nullopt},
        {65'536, 16'384, std::nullopt},
        {kMax, kMax, std::nullopt},
        {0, kMax, 0},
        {kMax, 0, 0},
        {-1, 10, std::nullopt},
        {10, -1, std::nullopt},
        {kMin, kMin, std::nullopt},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        EXPECT_EQ(BmpPixelAreaSize(c.width, c.height), c.size);
    }
}

TEST(BmpLayout, HeadersAtTheLargestSize) {
    const auto size = BmpPixelAreaSize(1, 536'870'898);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(BmpFileSize(*size), 2'147'483'646u);
    const auto headers = Headers(1, 536'870'898, *size);
    // bfSize 2,147,483,646 = 7F FF FF FE; biHeight -536,870,898 = E0 00 00 0E.
    EXPECT_EQ((std::vector<std::uint8_t>(headers.begin() + 2, headers.begin() + 6)),
              (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ((std::vector<std::uint8_t>(headers.begin() + 22, headers.begin() + 26)),
              (std::vector<std::uint8_t>{0x0E, 0x00, 0x00, 0xE0}));
}

}  // namespace
