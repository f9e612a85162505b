// Decoding a captured PNG straight into the caller's B,G,R,A rows. The browser's 8-bit RGB and
// RGBA images are inflated a few rows at a time and converted in place, so no whole decoded
// image is ever held; any other kind of PNG takes a slower general path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wkechr {

// Writes the image into `rows` rows of `width` pixels `pitch` bytes apart; whatever the image
// does not cover (or all of it, for data that is not a PNG) becomes white. True only when the
// image decoded whole and is exactly `width` × `rows`.
bool DecodePngInto(const uint8_t* png, size_t size, uint8_t* dest, int width, int rows, size_t pitch);

}  // namespace wkechr
