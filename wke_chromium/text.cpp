#include "text.h"

#include <array>
#include <cstdint>
#include <cwctype>

namespace wkechr {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::wstring& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<wchar_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    }
}

bool IsSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f' ||
           c == 0x00A0 || c == 0x3000 || c == 0xFEFF || (c >= 0x2000 && c <= 0x200B);
}

bool IsAsciiAlpha(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

}  // namespace

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<uint16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            char32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        AppendUtf8(out, c);
    }
    return out;
}

std::wstring FromUtf8(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0) {
            AppendUtf16(out, 0xFFFD);
            ++i;
            continue;
        }
        char32_t c = extra == 0 ? b : (b & (0x3F >> extra));
        bool good = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= text.size()) { good = false; break; }
            unsigned char cont = static_cast<unsigned char>(text[i + k]);
            if ((cont & 0xC0) != 0x80) { good = false; break; }
            c = (c << 6) | (cont & 0x3F);
        }
        static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (!good || c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            AppendUtf16(out, 0xFFFD);
            ++i;
            continue;
        }
        AppendUtf16(out, c);
        i += extra + 1;
    }
    return out;
}

std::wstring TrimSpace(std::wstring_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsSpace(text[begin])) ++begin;
    while (end > begin && IsSpace(text[end - 1])) --end;
    return std::wstring(text.substr(begin, end - begin));
}

std::string FileUrlFromPath(std::wstring_view path) {
    std::string utf8 = ToUtf8(path);
    std::string out = "file://";
    if (!utf8.empty() && utf8[0] != '/' && utf8[0] != '\\') out += '/';
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : utf8) {
        if (c == '\\') c = '/';
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/' || c == ':') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string AddressFromTyped(std::wstring_view typed) {
    std::wstring text = TrimSpace(typed);
    if (text.empty()) return "about:blank";
    // Drive paths (C:\..., C:/...) and UNC paths are files.
    if (text.size() >= 3 && IsAsciiAlpha(text[0]) && text[1] == L':' && (text[2] == L'\\' || text[2] == L'/'))
        return FileUrlFromPath(text);
    if (text.size() >= 2 && text[0] == L'\\' && text[1] == L'\\') {
        std::string url = FileUrlFromPath(text.substr(2));
        return "file://" + url.substr(8);  // host first: file://server/share/...
    }
    // scheme ":" — but "host:port" is not a scheme, so only "scheme://" or a few schemes
    // that stand without slashes count.
    size_t colon = text.find(L':');
    if (colon != std::wstring::npos && colon > 0 && IsAsciiAlpha(text[0])) {
        bool schemeChars = true;
        for (size_t i = 0; i < colon; ++i) {
            wchar_t c = text[i];
            if (!(IsAsciiAlpha(c) || (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.')) {
                schemeChars = false;
                break;
            }
        }
        if (schemeChars) {
            if (text.compare(colon, 3, L"://") == 0) return ToUtf8(text);
            std::wstring scheme = text.substr(0, colon);
            for (auto& c : scheme) c = static_cast<wchar_t>(std::towlower(c));
            static const wchar_t* kBare[] = {L"about", L"data", L"javascript", L"mailto", L"blob",
                                             L"view-source", L"chrome", L"edge", L"file"};
            for (const wchar_t* bare : kBare)
                if (scheme == bare) return ToUtf8(text);
        }
    }
    return "http://" + ToUtf8(text);
}

std::string Base64Encode(std::string_view bytes) {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
        out += kChars[v >> 18];
        out += kChars[(v >> 12) & 63];
        out += kChars[(v >> 6) & 63];
        out += kChars[v & 63];
    }
    if (i < bytes.size()) {
        uint32_t v = uint8_t(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= uint8_t(bytes[i + 1]) << 8;
        out += kChars[v >> 18];
        out += kChars[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kChars[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool Base64Decode(std::string_view text, std::string& out) {
    static const std::array<int8_t, 256> kTable = [] {
        std::array<int8_t, 256> t{};
        t.fill(-1);
        const char* chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) t[static_cast<uint8_t>(chars[i])] = static_cast<int8_t>(i);
        return t;
    }();
    out.clear();
    out.resize(text.size() / 4 * 3 + 3);
    size_t n = 0;
    uint32_t acc = 0;
    int bits = 0;
    bool padding = false;
    for (char ch : text) {
        uint8_t c = static_cast<uint8_t>(ch);
        if (c == '=') {
            padding = true;
            continue;
        }
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
        int8_t v = kTable[c];
        if (v < 0 || padding) return false;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out[n++] = static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    out.resize(n);
    return true;
}

std::string Sha1(std::string_view bytes) {
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string msg(bytes);
    uint64_t bitLength = static_cast<uint64_t>(bytes.size()) * 8;
    msg += static_cast<char>(0x80);
    while (msg.size() % 64 != 56) msg += '\0';
    for (int i = 7; i >= 0; --i) msg += static_cast<char>((bitLength >> (i * 8)) & 0xFF);
    auto rol = [](uint32_t v, int s) { return (v << s) | (v >> (32 - s)); };
    for (size_t chunk = 0; chunk < msg.size(); chunk += 64) {
        uint32_t w[80];
        for (int i = 0; i < 16; ++i)
            w[i] = (uint8_t(msg[chunk + 4 * i]) << 24) | (uint8_t(msg[chunk + 4 * i + 1]) << 16) |
                   (uint8_t(msg[chunk + 4 * i + 2]) << 8) | uint8_t(msg[chunk + 4 * i + 3]);
        for (int i = 16; i < 80; ++i) w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            uint32_t f, k;
            if (i < 20) { f = (b & c) | (~b & d); k = 0x5A827999; }
            else if (i < 40) { f = b ^ c ^ d; k = 0x6ED9EBA1; }
            else if (i < 60) { f = (b & c) | (b & d) | (c & d); k = 0x8F1BBCDC; }
            else { f = b ^ c ^ d; k = 0xCA62C1D6; }
            uint32_t t = rol(a, 5) + f + e + k + w[i];
            e = d; d = c; c = rol(b, 30); b = a; a = t;
        }
        h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e;
    }
    std::string out;
    for (uint32_t v : h)
        for (int i = 3; i >= 0; --i) out += static_cast<char>((v >> (i * 8)) & 0xFF);
    return out;
}

std::string WebSocketAccept(std::string_view key) {
    std::string joined(key);
    joined += "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    return Base64Encode(Sha1(joined));
}

}  // namespace wkechr
