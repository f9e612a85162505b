// GBK texts at the platform boundary: every W call gets UTF-16 made with code page 936.
#pragma once

#include <windows.h>

#include <string>

#include "base/text.h"

inline std::wstring ToWide(const Text& text) {
    if (text.empty()) return std::wstring();
    int units = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0)
        MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), out.data(), units);
    return out;
}

inline Text FromWide(const std::wstring& wide) {
    if (wide.empty()) return Text();
    int bytes = WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
    Text out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()), out.data(), bytes,
                            nullptr, nullptr);
    return out;
}

inline Text WindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    int got = GetWindowTextW(window, wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(got > 0 ? got : 0));
    return FromWide(wide);
}

inline void SetWindowTextGbk(HWND window, const Text& text) {
    SetWindowTextW(window, ToWide(text).c_str());
}
