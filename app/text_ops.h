// Character-wise operations on GBK texts: a byte of 0x80 or above starts a two-byte character
// together with the byte after it.
#pragma once

#include <vector>

#include "base/text.h"

// The items between CR LF pairs found at character positions. A trailing CR LF adds no empty
// item; a lone CR or LF stays inside its item.
std::vector<Text> SplitLines(const Text& text);

// The text without ASCII spaces and full-width spaces (A1 A1). An incomplete two-byte character
// at the very end is dropped.
Text RemoveSpaces(const Text& text);

// Every occurrence of sub, tried only at character positions, replaced left to right without
// overlap. An empty text or an empty sub gives a copy of the text.
Text ReplaceAll(const Text& text, const Text& sub, const Text& replacement);
