#include "png_rows.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bgra_rows.h"

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace wkechr {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

struct Header {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colour = 0, interlace = 0;
};

// One chunk at a time; `next` stops at the end or at a chunk that overruns the data.
struct ChunkReader {
    const uint8_t* data;
    size_t size;
    size_t pos = 8;
    bool Next(uint32_t& type, const uint8_t*& body, uint32_t& length) {
        if (size - pos < 12) return false;
        length = BigEndian32(data + pos);
        type = BigEndian32(data + pos + 4);
        if (length > size - pos - 12) return false;
        body = data + pos + 8;
        pos += 12 + static_cast<size_t>(length);
        return true;
    }
};

constexpr uint32_t kIhdr = 0x49484452, kIdat = 0x49444154, kIend = 0x49454E44;

int Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Undoes a scanline's filter in place; `above` is the previous row already unfiltered (zeros
// for the first). False for an unknown filter.
template <int Bpp>
bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* above, size_t bytes) {
    switch (filter) {
    case 0: return true;
    case 1:
        for (size_t i = Bpp; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - Bpp]);
        return true;
    case 2:
        for (size_t i = 0; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + above[i]);
        return true;
    case 3:
        for (size_t i = 0; i < Bpp; ++i) row[i] = static_cast<uint8_t>(row[i] + (above[i] >> 1));
        for (size_t i = Bpp; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + ((row[i - Bpp] + above[i]) >> 1));
        return true;
    case 4:
        for (size_t i = 0; i < Bpp; ++i) row[i] = static_cast<uint8_t>(row[i] + above[i]);
        for (size_t i = Bpp; i < bytes; ++i)
            row[i] = static_cast<uint8_t>(row[i] + Paeth(row[i - Bpp], above[i], above[i - Bpp]));
        return true;
    default: return false;
    }
}

struct Inflater {
    z_stream stream{};
    bool open = false;
    Inflater() { open = inflateInit(&stream) == Z_OK; }
    ~Inflater() {
        if (open) inflateEnd(&stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
};

// 8-bit RGB or RGBA, not interlaced: rows are inflated into a small window, unfiltered there and
// converted into the destination. Returns the number of rows written; `whole` tells whether the
// image's data was complete and sound up to the last row needed.
template <int Bpp>
int StreamRows(ChunkReader chunks, const Header& header, uint8_t* dest, int width, int rows, size_t pitch,
               bool& whole) {
    whole = false;
    const size_t lineBytes = static_cast<size_t>(header.width) * Bpp;
    const size_t stride = lineBytes + 1;
    const int wanted = static_cast<int>(std::min<uint32_t>(header.height, static_cast<uint32_t>(rows)));
    const int columns = static_cast<int>(std::min<uint32_t>(header.width, static_cast<uint32_t>(width)));
    // A window of rows that stays in the cache; one row at least.
    const size_t windowRows = std::max<size_t>(1, (size_t{256} << 10) / stride);
    std::unique_ptr<uint8_t[]> window(new (std::nothrow) uint8_t[stride * windowRows]);
    std::unique_ptr<uint8_t[]> above(new (std::nothrow) uint8_t[stride]());
    Inflater inflater;
    if (!window || !above || !inflater.open) return 0;

    int y = 0;
    size_t filled = 0;
    bool ended = false;
    uint32_t type = 0, length = 0;
    const uint8_t* body = nullptr;
    while (y < wanted && !ended && chunks.Next(type, body, length)) {
        if (type == kIend) break;
        if (type != kIdat) continue;
        z_stream& z = inflater.stream;
        z.next_in = const_cast<Bytef*>(body);
        z.avail_in = length;
        while (y < wanted && !ended && z.avail_in > 0) {
            z.next_out = window.get() + filled;
            z.avail_out = static_cast<uInt>(stride * windowRows - filled);
            const int status = inflate(&z, Z_NO_FLUSH);
            if (status == Z_STREAM_END)
                ended = true;
            else if (status != Z_OK && status != Z_BUF_ERROR)
                return y;
            filled = stride * windowRows - z.avail_out;
            const size_t complete = filled / stride;
            for (size_t i = 0; i < complete && y < wanted; ++i, ++y) {
                uint8_t* line = window.get() + i * stride;
                const uint8_t* previous = i ? line - stride + 1 : above.get() + 1;
                if (!Unfilter<Bpp>(line[0], line + 1, previous, lineBytes)) return y;
                uint8_t* out = dest + static_cast<size_t>(y) * pitch;
                if (Bpp == 3)
                    RgbToBgraRow(line + 1, out, columns);
                else
                    RgbaToBgraRow(line + 1, out, columns);
                if (columns < width) std::memset(out + 4 * static_cast<size_t>(columns), 0xFF, static_cast<size_t>(width - columns) * 4);
            }
            if (complete > 0) {
                std::memcpy(above.get(), window.get() + (complete - 1) * stride, stride);
                std::memmove(window.get(), window.get() + complete * stride, filled - complete * stride);
                filled -= complete * stride;
            }
            if (status == Z_BUF_ERROR && z.avail_in > 0) return y;  // no progress possible
        }
    }
    whole = y == wanted;
    return y;
}

bool ReadHeader(ChunkReader& chunks, Header& header) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (chunks.size < 8 || std::memcmp(chunks.data, kSignature, 8) != 0) return false;
    uint32_t type = 0, length = 0;
    const uint8_t* body = nullptr;
    if (!chunks.Next(type, body, length) || type != kIhdr || length != 13) return false;
    header.width = BigEndian32(body);
    header.height = BigEndian32(body + 4);
    header.depth = body[8];
    header.colour = body[9];
    header.interlace = body[12];
    return header.width > 0 && header.height > 0 && header.width <= (1u << 24) && header.height <= (1u << 30);
}

// Any other PNG: decoded whole, then copied.
bool DecodeGeneral(const uint8_t* png, size_t size, uint8_t* dest, int width, int rows, size_t pitch) {
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = size <= 0x7FFFFFFF ? stbi_load_from_memory(png, static_cast<int>(size), &w, &h, &channels, 4) : nullptr;
    BlitRgbaToBgra(pixels, w, h, dest, width, rows, pitch);
    if (pixels) stbi_image_free(pixels);
    return pixels && w == width && h == rows;
}

}  // namespace

bool DecodePngInto(const uint8_t* png, size_t size, uint8_t* dest, int width, int rows, size_t pitch) {
    if (!dest || width <= 0 || rows <= 0) return false;
    ChunkReader chunks{png, png ? size : 0};
    Header header;
    if (!ReadHeader(chunks, header)) {
        FillWhite(dest, width, rows, pitch);
        return false;
    }
    if (header.depth != 8 || (header.colour != 2 && header.colour != 6) || header.interlace != 0)
        return DecodeGeneral(png, size, dest, width, rows, pitch);
    bool whole = false;
    const int written = header.colour == 2 ? StreamRows<3>(chunks, header, dest, width, rows, pitch, whole)
                                           : StreamRows<4>(chunks, header, dest, width, rows, pitch, whole);
    if (written < rows) FillWhite(dest + static_cast<size_t>(written) * pitch, width, rows - written, pitch);
    return whole && header.width == static_cast<uint32_t>(width) && header.height == static_cast<uint32_t>(rows);
}

}  // namespace wkechr
