#include "webview/capture_buffer.h"

#include <algorithm>
#include <limits>

#include "webview/bmp_layout.h"

std::int32_t RowsThatFit(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return std::max(height, 0);
    constexpr std::int64_t kLargestPixelArea =
        std::numeric_limits<std::int32_t>::max() - static_cast<std::int64_t>(kBmpHeadersSize);
    const std::int64_t rowBytes = std::int64_t{width} * 4;
    return static_cast<std::int32_t>(std::min<std::int64_t>(height, kLargestPixelArea / rowBytes));
}

CaptureBuffer AllocateCaptureBuffer(std::int32_t width, std::int32_t height, const ImageAllocator& allocate) {
    CaptureBuffer buffer;
    buffer.width = std::max(width, 0);
    buffer.rows = RowsThatFit(buffer.width, height);
    for (;;) {
        // RowsThatFit keeps this within the format, so it cannot fail here.
        buffer.pixelBytes = BmpPixelAreaSize(buffer.width, buffer.rows).value_or(0);
        if (allocate(buffer.image, BmpFileSize(buffer.pixelBytes))) return buffer;
        buffer.image.clear();
        if (buffer.pixelBytes == 0) {
            buffer.rows = 0;
            return buffer;
        }
        buffer.rows -= std::max(buffer.rows / 8, 1);
    }
}
