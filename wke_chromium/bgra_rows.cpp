#include "bgra_rows.h"

#include <algorithm>
#include <cstring>

namespace wkechr {

void FillWhite(uint8_t* dest, int width, int rows, size_t pitch) {
    if (!dest || width <= 0) return;
    for (int y = 0; y < rows; ++y) std::memset(dest + static_cast<size_t>(y) * pitch, 0xFF, static_cast<size_t>(width) * 4);
}

void RgbToBgraRow(const uint8_t* rgb, uint8_t* out, int count) {
    for (int x = 0; x < count; ++x, rgb += 3, out += 4) {
        out[0] = rgb[2];
        out[1] = rgb[1];
        out[2] = rgb[0];
        out[3] = 0xFF;
    }
}

void RgbaToBgraRow(const uint8_t* rgba, uint8_t* out, int count) {
    for (int x = 0; x < count; ++x, rgba += 4, out += 4) {
        uint32_t p;
        std::memcpy(&p, rgba, 4);
        // R,G,B,A in memory -> B,G,R,A: swap the first and third bytes.
        p = (p & 0xFF00FF00u) | ((p & 0x000000FFu) << 16) | ((p >> 16) & 0x000000FFu);
        std::memcpy(out, &p, 4);
    }
}

void BlitRgbaToBgra(const uint8_t* rgba, int imageWidth, int imageHeight, uint8_t* dest, int width, int rows,
                    size_t pitch) {
    if (!dest || width <= 0 || rows <= 0) return;
    const int copyRows = rgba ? std::min(rows, std::max(0, imageHeight)) : 0;
    const int copyCols = std::min(width, std::max(0, imageWidth));
    for (int y = 0; y < copyRows; ++y) {
        uint8_t* out = dest + static_cast<size_t>(y) * pitch;
        RgbaToBgraRow(rgba + static_cast<size_t>(y) * static_cast<size_t>(imageWidth) * 4, out, copyCols);
        if (copyCols < width) std::memset(out + 4 * copyCols, 0xFF, static_cast<size_t>(width - copyCols) * 4);
    }
    if (copyRows < rows) FillWhite(dest + static_cast<size_t>(copyRows) * pitch, width, rows - copyRows, pitch);
}

}  // namespace wkechr
