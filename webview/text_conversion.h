// Conversions between the program's GBK texts and the engine's UTF-16 strings.
#pragma once

#include "base/text.h"

// UTF-16 little-endian units with their terminating zero unit; never empty (at least 00 00).
ByteBuffer GbkToUtf16(const char* text, unsigned codePage = 936);
inline ByteBuffer GbkToUtf16(const Text& text, unsigned codePage = 936) {
    return GbkToUtf16(text.c_str(), codePage);
}

// The text up to its first NUL; the empty text when the conversion fails or there is no string.
Text Utf16ToGbk(const wchar_t* text, unsigned codePage = 936);

inline const wchar_t* AsWide(const ByteBuffer& utf16) {
    return reinterpret_cast<const wchar_t*>(utf16.data());
}
