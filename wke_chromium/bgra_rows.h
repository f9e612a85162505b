// The caller's frame: rows of B,G,R,A pixels `pitch` bytes apart, at any alignment. Decoded
// pieces are converted into it here; what no image covers becomes opaque white.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wkechr {

void FillWhite(uint8_t* dest, int width, int rows, size_t pitch);

// One row of R,G,B (or R,G,B,A) pixels as B,G,R,A; `count` pixels.
void RgbToBgraRow(const uint8_t* rgb, uint8_t* out, int count);
void RgbaToBgraRow(const uint8_t* rgba, uint8_t* out, int count);

// Writes up to `rows` rows of an RGBA image of `imageWidth` × `imageHeight` into `rows` rows of
// `width` pixels; what the image does not cover becomes white.
void BlitRgbaToBgra(const uint8_t* rgba, int imageWidth, int imageHeight, uint8_t* dest, int width, int rows,
                    size_t pitch);

}  // namespace wkechr
