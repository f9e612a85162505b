// The buffer a capture paints into: the BMP file of the page's top rows, as many whole rows as the
// format and the memory at hand allow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/text.h"

struct CaptureBuffer {
    ByteBuffer image;       // headers and pixel area, zero-filled; empty when not even 54 bytes came
    std::int32_t width = 0;
    std::int32_t rows = 0;  // rows the pixel area holds
    std::int32_t pixelBytes = 0;
};

// Fills out with size zero bytes and answers true, or answers false and leaves it empty.
using ImageAllocator = std::function<bool(ByteBuffer& out, std::size_t size)>;

// For a page of width × height (a negative size, a failed query, counts as 0): every row when the
// file fits the format's signed 32-bit sizes, otherwise the most rows that do; while the allocation
// fails, an eighth fewer rows each time, down to the bare headers. A zero width keeps the height
// (rows of no bytes).
CaptureBuffer AllocateCaptureBuffer(std::int32_t width, std::int32_t height, const ImageAllocator& allocate);

// The most whole rows of width pixels, up to height, whose BMP file fits the format.
std::int32_t RowsThatFit(std::int32_t width, std::int32_t height);
