// The two value types every subsystem passes around.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A text: GBK (code page 936) bytes; std::string keeps the terminating NUL for c_str().
// A byte of 0x80 or above starts a two-byte character together with the byte after it.
using Text = std::string;

// An owned, counted sequence of bytes: captured images, UTF-16 strings.
using ByteBuffer = std::vector<std::uint8_t>;

inline bool IsLeadByte(unsigned char b) { return b >= 0x80; }
