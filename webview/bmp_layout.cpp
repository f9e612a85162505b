#include "webview/bmp_layout.h"

#include <limits>

namespace {

void Put16(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr std::int64_t kLargestFileSize = std::numeric_limits<std::int32_t>::max();
constexpr std::uint32_t kPixelsPerMeterAt96Dpi = 3780;

}  // namespace

std::optional<std::int32_t> BmpPixelAreaSize(std::int32_t width, std::int32_t height) {
    if (width < 0 || height < 0) return std::nullopt;
    // W × H fits 64 bits for any two 32-bit values; × 4 might not, so compare before it.
    const std::int64_t pixels = std::int64_t{width} * height;
    if (pixels > (kLargestFileSize - static_cast<std::int64_t>(kBmpHeadersSize)) / 4) return std::nullopt;
    return static_cast<std::int32_t>(pixels * 4);
}

std::size_t BmpFileSize(std::int32_t pixelAreaSize) {
    return static_cast<std::size_t>(pixelAreaSize) + kBmpHeadersSize;
}

void WriteBmpHeaders(std::uint8_t* out, std::int32_t width, std::int32_t height, std::int32_t pixelAreaSize) {
    const std::uint32_t size = static_cast<std::uint32_t>(pixelAreaSize);
    // The negated height marks rows stored top first; negated in unsigned arithmetic, where it is
    // defined for every value.
    const std::uint32_t negatedHeight = 0u - static_cast<std::uint32_t>(height);

    out[0] = 'B';
    out[1] = 'M';
    Put32(out + 2, size + static_cast<std::uint32_t>(kBmpHeadersSize));  // bfSize
    Put16(out + 6, 0);                                                    // bfReserved1
    Put16(out + 8, 0);                                                    // bfReserved2
    Put32(out + 10, static_cast<std::uint32_t>(kBmpHeadersSize));         // bfOffBits

    Put32(out + 14, 40);                                 // biSize
    Put32(out + 18, static_cast<std::uint32_t>(width));  // biWidth
    Put32(out + 22, negatedHeight);                      // biHeight
    Put16(out + 26, 1);                                  // biPlanes
    Put16(out + 28, 32);                                 // biBitCount
    Put32(out + 30, 0);                                  // biCompression: BI_RGB
    Put32(out + 34, size);                               // biSizeImage
    Put32(out + 38, kPixelsPerMeterAt96Dpi);             // biXPelsPerMeter
    Put32(out + 42, kPixelsPerMeterAt96Dpi);             // biYPelsPerMeter
    Put32(out + 46, 0);                                  // biClrUsed
    Put32(out + 50, 0);                                  // biClrImportant
}
