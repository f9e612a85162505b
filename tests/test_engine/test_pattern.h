// The picture the test engine paints: a pure function of the pixel's place in the frame and of the
// page's address, so a test can predict any pixel of a capture or of the window on screen.
//
// Pixel bytes in memory order: blue, green, red, fourth. As a 32-bit value read little-endian from
// memory (and so also as 0xAARRGGBB):
//   gradient (every page unless scripted otherwise):
//     blue   = x mod 256
//     green  = y mod 256
//     red    = ((x / 256) mod 16 + 16 * ((y / 256) mod 16)) XOR AddressTag(address)
//     fourth = 255
//   solid colour RRGGBB (scripted per address): blue = BB, green = GG, red = RR, fourth = 255
// x and y count from the frame's top-left pixel; the frame has the view's size at the time of the
// paint. AddressTag is the low byte of the 32-bit FNV-1a hash of the UTF-8 bytes of the text last
// given to wkeLoadURLW, wkeLoadHTMLW or wkeLoadFileW (the empty text before any load).
//
// No Windows header: usable by native code too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace test_engine {

constexpr std::uint8_t AddressTag(std::string_view utf8) {
    std::uint32_t hash = 2166136261u;
    for (char c : utf8) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return static_cast<std::uint8_t>(hash & 0xFF);
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
inline std::string Utf8FromUtf16(std::u16string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

#if defined(_WIN32)
inline std::uint8_t AddressTag(std::wstring_view utf16) {
    return AddressTag(Utf8FromUtf16(
        std::u16string_view(reinterpret_cast<const char16_t*>(utf16.data()), utf16.size())));
}
#endif

constexpr std::uint32_t GradientPixel(std::uint8_t tag, int x, int y) {
    std::uint32_t blue = static_cast<std::uint32_t>(x) & 0xFF;
    std::uint32_t green = static_cast<std::uint32_t>(y) & 0xFF;
    std::uint32_t red = (((static_cast<std::uint32_t>(x) >> 8) & 0x0F) |
                         (((static_cast<std::uint32_t>(y) >> 8) & 0x0F) << 4)) ^
                        tag;
    return 0xFF000000u | (red << 16) | (green << 8) | blue;
}

constexpr std::uint32_t SolidPixel(std::uint32_t rgb) { return 0xFF000000u | (rgb & 0xFFFFFF); }

// What a pixel looks like on a 24-bit screen read back as 0x00RRGGBB (the fourth byte is not shown).
constexpr std::uint32_t OnScreen(std::uint32_t pixel) { return pixel & 0xFFFFFF; }

}  // namespace test_engine
