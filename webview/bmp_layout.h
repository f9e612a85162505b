// The layout of a captured image: a 32-bit top-down BMP file, its two headers followed by the
// packed pixel rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// The 14-byte file header and the 40-byte information header.
inline constexpr std::size_t kBmpHeadersSize = 54;

// S = W × H × 4, or nothing when W or H is negative or when S + 54 would exceed 2,147,483,647,
// the largest size the file's signed 32-bit fields can hold.
std::optional<std::int32_t> BmpPixelAreaSize(std::int32_t width, std::int32_t height);

// S + 54: the length of the whole file. S must come from BmpPixelAreaSize.
std::size_t BmpFileSize(std::int32_t pixelAreaSize);

// Writes the 54 header bytes for a W × H image of S pixel bytes (rows top first) to out.
void WriteBmpHeaders(std::uint8_t* out, std::int32_t width, std::int32_t height, std::int32_t pixelAreaSize);
