#include "webview/text_conversion.h"

#include <windows.h>

ByteBuffer GbkToUtf16(const char* text, unsigned codePage) {
    ByteBuffer empty(2, 0);
    if (!text) return empty;
    // Lengths beyond int are refused by the platform call; such a text gives the empty string.
    size_t length = std::char_traits<char>::length(text) + 1;
    if (length > 0x7FFFFFFF) return empty;
    int units = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), nullptr, 0);
    if (units <= 0) return empty;
    ByteBuffer out(static_cast<size_t>(units) * 2, 0);
    int written = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length),
                                      reinterpret_cast<wchar_t*>(out.data()), units);
    return written == 0 ? empty : out;
}

Text Utf16ToGbk(const wchar_t* text, unsigned codePage) {
    if (!text) return Text();
    int bytes = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return Text();
    Text out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(std::char_traits<char>::length(out.c_str()));
    return out;
}
