#include "app/text_ops.h"

namespace {

// Length of the character starting at pos; a lead byte in the last position counts as one byte.
std::size_t CharLength(const Text& text, std::size_t pos) {
    return IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

}  // namespace

std::vector<Text> SplitLines(const Text& text) {
    std::vector<Text> items;
    std::size_t itemStart = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') {
            items.emplace_back(text, itemStart, pos - itemStart);
            pos += 2;
            itemStart = pos;
        } else {
            pos += CharLength(text, pos);
        }
    }
    if (itemStart < text.size()) items.emplace_back(text, itemStart);
    return items;
}

Text RemoveSpaces(const Text& text) {
    Text result;
    result.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const unsigned char byte = static_cast<unsigned char>(text[pos]);
        if (IsLeadByte(byte)) {
            if (pos + 1 >= text.size()) break;
            if (!(byte == 0xA1 && static_cast<unsigned char>(text[pos + 1]) == 0xA1)) {
                result.append(text, pos, 2);
            }
            pos += 2;
        } else {
            if (byte != ' ') result.push_back(static_cast<char>(byte));
            ++pos;
        }
    }
    return result;
}

Text ReplaceAll(const Text& text, const Text& sub, const Text& replacement) {
    if (text.empty() || sub.empty()) return text;
    Text result;
    result.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text.size() - pos < sub.size()) {
            result.append(text, pos, Text::npos);
            break;
        }
        if (text.compare(pos, sub.size(), sub) == 0) {
            result += replacement;
            pos += sub.size();
        } else {
            const std::size_t length = CharLength(text, pos);
            result.append(text, pos, length);
            pos += length;
        }
    }
    return result;
}
