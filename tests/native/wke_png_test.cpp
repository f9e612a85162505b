// Decoding captured PNG straight into B,G,R,A rows: every filter, chunking, size mismatches and
// damaged data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "png_rows.h"

using namespace wkechr;

namespace {

void Put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void PutChunk(std::string& out, const char* type, const std::string& body) {
    Put32(out, static_cast<uint32_t>(body.size()));
    std::string typed = std::string(type, 4) + body;
    out += typed;
    Put32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

int Paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

struct Image {
    int width = 0, height = 0, channels = 3;  // 3: RGB, 4: RGBA, 1: grey
    std::vector<uint8_t> pixels;              // rows of `channels` bytes per pixel
};

Image Pattern(int width, int height, int channels, unsigned seed) {
    Image image{width, height, channels, {}};
    std::mt19937 random(seed);
    image.pixels.resize(static_cast<size_t>(width) * height * channels);
    // Smooth parts and noise both, so that every filter meets carries and borrows.
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = static_cast<uint8_t>(i % 7 < 3 ? i * 13 : random());
    return image;
}

// A PNG of `image` with the given filter on each row (cycled), its data cut into IDAT chunks of
// `chunk` bytes.
std::string Encode(const Image& image, const std::vector<int>& filters, size_t chunk, int depth = 8) {
    const int bpp = image.channels;
    const size_t lineBytes = static_cast<size_t>(image.width) * bpp;
    std::string raw;
    std::vector<uint8_t> zero(lineBytes, 0);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* row = image.pixels.data() + y * lineBytes;
        const uint8_t* up = y ? row - lineBytes : zero.data();
        const int filter = filters[y % filters.size()];
        raw += static_cast<char>(filter);
        for (size_t i = 0; i < lineBytes; ++i) {
            int left = i >= static_cast<size_t>(bpp) ? row[i - bpp] : 0;
            int upLeft = i >= static_cast<size_t>(bpp) ? up[i - bpp] : 0;
            int predicted = filter == 1 ? left : filter == 2 ? up[i] : filter == 3 ? (left + up[i]) / 2
                          : filter == 4 ? Paeth(left, up[i], upLeft) : 0;
            raw += static_cast<char>(row[i] - predicted);
        }
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
              static_cast<uLong>(raw.size()), 6);
    packed.resize(size);

    std::string png = "\x89PNG\r\n\x1A\n";
    std::string header;
    Put32(header, static_cast<uint32_t>(image.width));
    Put32(header, static_cast<uint32_t>(image.height));
    header += static_cast<char>(depth);
    header += static_cast<char>(bpp == 4 ? 6 : bpp == 3 ? 2 : 0);
    header += std::string("\0\0\0", 3);
    PutChunk(png, "IHDR", header);
    PutChunk(png, "tEXt", "Comment\0x");
    for (size_t at = 0; at < packed.size(); at += chunk) PutChunk(png, "IDAT", packed.substr(at, chunk));
    PutChunk(png, "IEND", "");
    return png;
}

// The image as B,G,R,A rows of `width` pixels `pitch` apart, white beyond it.
std::vector<uint8_t> Expected(const Image& image, int width, int rows, size_t pitch, uint8_t gap) {
    std::vector<uint8_t> out(pitch * rows, gap);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = out.data() + y * pitch + x * 4;
            if (y >= image.height || x >= image.width) {
                std::memset(p, 0xFF, 4);
                continue;
            }
            const uint8_t* s = image.pixels.data() + (static_cast<size_t>(y) * image.width + x) * image.channels;
            if (image.channels == 1) {
                p[0] = p[1] = p[2] = s[0];
                p[3] = 255;
            } else {
                p[0] = s[2];
                p[1] = s[1];
                p[2] = s[0];
                p[3] = image.channels == 4 ? s[3] : 255;
            }
        }
    }
    return out;
}

bool Decode(const std::string& png, std::vector<uint8_t>& dest, int width, int rows, size_t pitch) {
    return DecodePngInto(reinterpret_cast<const uint8_t*>(png.data()), png.size(), dest.data(), width, rows, pitch);
}

}  // namespace

TEST(PngRows, EveryFilterEveryChunkingExact) {
    struct Case {
        int width, height, channels;
        std::vector<int> filters;
        size_t chunk;
    } cases[] = {
        {37, 29, 3, {0, 1, 2, 3, 4}, 4096},
        {37, 29, 4, {4, 3, 2, 1, 0}, 1},      // one byte per chunk
        {1, 5, 3, {3, 4}, 7},                 // a single column: the left neighbour never exists
        {300, 700, 3, {2}, 4096},             // taller than the decoder's window of rows
        {300, 700, 4, {1, 4}, 100000},
        {70000, 3, 4, {2, 4, 3}, 65536},      // one row larger than the window
    };
    for (const auto& c : cases) {
        const Image image = Pattern(c.width, c.height, c.channels, 11);
        const std::string png = Encode(image, c.filters, c.chunk);
        const size_t pitch = static_cast<size_t>(c.width) * 4 + 3;  // rows apart by more than a row, odd
        std::vector<uint8_t> dest(pitch * c.height, 0xAB);
        EXPECT_TRUE(Decode(png, dest, c.width, c.height, pitch)) << c.width << "x" << c.height;
        EXPECT_TRUE(dest == Expected(image, c.width, c.height, pitch, 0xAB)) << c.width << "x" << c.height;
    }
}

TEST(PngRows, OtherKindsOfPngTakeTheGeneralPath) {
    const Image grey = Pattern(19, 11, 1, 5);
    std::vector<uint8_t> dest(19 * 4 * 11, 0);
    EXPECT_TRUE(Decode(Encode(grey, {0, 1, 2, 3, 4}, 50), dest, 19, 11, 19 * 4));
    EXPECT_TRUE(dest == Expected(grey, 19, 11, 19 * 4, 0));
}

TEST(PngRows, SizeMismatchesFillWhiteAndReportFailure) {
    const Image image = Pattern(8, 6, 3, 3);
    const std::string png = Encode(image, {2}, 4096);
    struct Case {
        int width, rows;
    } cases[] = {{8, 9}, {11, 6}, {5, 6}, {8, 4}, {3, 2}};
    for (const auto& c : cases) {
        const size_t pitch = static_cast<size_t>(c.width) * 4;
        std::vector<uint8_t> dest(pitch * c.rows, 0);
        EXPECT_FALSE(Decode(png, dest, c.width, c.rows, pitch)) << c.width << "x" << c.rows;
        EXPECT_TRUE(dest == Expected(image, c.width, c.rows, pitch, 0)) << c.width << "x" << c.rows;
    }
}

TEST(PngRows, DamagedDataNeverOverrunsAndLeavesWhite) {
    const Image image = Pattern(40, 30, 3, 9);
    const std::string png = Encode(image, {0, 1, 2, 3, 4}, 97);
    const size_t pitch = 40 * 4;
    const std::vector<uint8_t> white(pitch * 30, 0xFF);
    auto decodeInto = [&](const std::string& bytes, std::vector<uint8_t>& dest) {
        dest.assign(pitch * 30 + 64, 0x5A);  // a guard band after the rows
        bool ok = Decode(bytes, dest, 40, 30, pitch);
        for (size_t i = pitch * 30; i < dest.size(); ++i) EXPECT_EQ(dest[i], 0x5A) << "written past the rows";
        dest.resize(pitch * 30);
        return ok;
    };
    std::vector<uint8_t> dest;
    EXPECT_FALSE(decodeInto("", dest));
    EXPECT_TRUE(dest == white);
    EXPECT_FALSE(decodeInto("not a png at all", dest));
    EXPECT_TRUE(dest == white);
    EXPECT_FALSE(DecodePngInto(nullptr, 10, dest.data(), 40, 30, pitch));

    // Cut short: the rows that came are exact, the rest white.
    EXPECT_FALSE(decodeInto(png.substr(0, png.size() / 2), dest));
    const std::vector<uint8_t> full = Expected(image, 40, 30, pitch, 0);
    int exactRows = 0;
    while (exactRows < 30 && std::memcmp(dest.data() + exactRows * pitch, full.data() + exactRows * pitch, pitch) == 0)
        ++exactRows;
    EXPECT_GT(exactRows, 0);
    EXPECT_LT(exactRows, 30);
    for (int y = exactRows; y < 30; ++y)
        EXPECT_EQ(std::memcmp(dest.data() + y * pitch, white.data(), pitch), 0) << "row " << y;

    // An unknown filter stops the decode there.
    Image flat{40, 30, 3, std::vector<uint8_t>(40 * 30 * 3, 0)};
    EXPECT_FALSE(decodeInto(Encode(flat, {0, 0, 0, 7}, 4096), dest));

    // Random damage anywhere: no crash, no write outside the rows (the sanitizers watch).
    std::mt19937 random(1234);
    for (int round = 0; round < 300; ++round) {
        std::string bad = png;
        for (int flips = 1 + round % 4; flips > 0; --flips) bad[random() % bad.size()] = static_cast<char>(random());
        decodeInto(bad, dest);
    }
}
