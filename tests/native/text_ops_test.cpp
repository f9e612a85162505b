#include "app/text_ops.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char* name;
    Text text;
    std::vector<Text> items;
};

TEST(SplitLines, SplitsAtCrLfOnCharacterPositions) {
    const SplitCase cases[] = {
        {"empty text", "", {}},
        {"no separator", "a", {"a"}},
        {"blank line between items", "a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"trailing CR LF adds no item", "a\r\nb\r\n", {"a", "b"}},
        {"last item without CR LF", "a\r\nb", {"a", "b"}},
        {"only CR LF", "\r\n", {""}},
        {"two CR LF", "\r\n\r\n", {"", ""}},
        {"lone CR and lone LF stay", "a\rb\nc", {"a\rb\nc"}},
        {"LF CR is no separator", "a\n\rb", {"a\n\rb"}},
        {"LF-only line ends give one item", "a\nb\nc\n", {"a\nb\nc\n"}},
        {"CR before CR LF stays in the item", "a\r\r\nb", {"a\r", "b"}},
        {"trailing lone CR stays", "a\r", {"a\r"}},
        // B0 0D is one character, so the LF after it is a lone LF.
        {"CR as second byte of a character", "x\xB0\r\ny", {"x\xB0\r\ny"}},
        {"CR LF after a two-byte character", "\xB0\xA1\r\nb", {"\xB0\xA1", "b"}},
        {"GBK text", "誠\r\n中文\r\n", {"誠", "中文"}},
        {"incomplete character at the end", "a\r\n\x81", {"a", "\x81"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SplitLines(c.text), c.items);
    }
}

struct RemoveSpacesCase {
    const char* name;
    Text text;
    Text expected;
};

TEST(RemoveSpaces, RemovesAsciiAndFullWidthSpacesOnly) {
    const RemoveSpacesCase cases[] = {
        {"empty", "", ""},
        {"ASCII spaces", " a b  c ", "abc"},
        {"full-width spaces", "\xA1\xA1" "a\xA1\xA1" "b\xA1\xA1", "ab"},
        {"mixed spaces only", " \xA1\xA1  \xA1\xA1", ""},
        {"tab kept", "a\tb \t", "a\tb\t"},
        {"other characters kept", "中 文", "中文"},
        {"backslash-like second byte kept", "誠 ", "\xD5\x5C"},
        // B0 A1 is one character, so the A1 after it starts the next one (A1 20), which is no space.
        {"A1 A1 across characters", "\xB0\xA1\xA1 ", "\xB0\xA1\xA1 "},
        {"A1 A1 after a character", "\xB0\xA1\xA1\xA1" "b", "\xB0\xA1" "b"},
        {"space as second byte of a character", "\x81 x", "\x81 x"},
        {"incomplete character at the end dropped", "ab\x81", "ab"},
        {"only an incomplete character", "\xA1", ""},
        {"full-width space cut in half", "a\xA1\xA1\xA1", "a"},
    };
    for (const RemoveSpacesCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RemoveSpaces(c.text), c.expected);
    }
}

struct ReplaceCase {
    const char* name;
    Text text;
    Text sub;
    Text replacement;
    Text expected;
};

TEST(ReplaceAll, ReplacesAtCharacterPositionsOnly) {
    const ReplaceCase cases[] = {
        {"empty text", "", "a", "b", ""},
        {"empty sub gives a copy", "abc", "", "x", "abc"},
        {"every occurrence", "a/b/c/", "/", "", "abc"},
        {"longer replacement", "a.b", ".", "::", "a::b"},
        {"no overlap, left to right", "aaaa", "aa", "b", "bb"},
        {"odd run leaves the rest", "aaa", "aa", "b", "ba"},
        {"sub longer than text", "ab", "abc", "x", "ab"},
        {"rest shorter than sub kept", "xabab", "abc", "", "xabab"},
        {"exact comparison", "A/a", "a", "", "A/"},
        {"second byte equal to backslash", "誠\\誠", "\\", "", "誠誠"},
        {"second byte not matched", "\xB0\xA1", "\xA1", "-", "\xB0\xA1"},
        {"sub spanning two characters", "\xB0\xA1\xB0\xA1", "\xA1\xB0", "-", "\xB0\xA1\xB0\xA1"},
        {"two-byte sub", "中a中", "中", "x", "xax"},
        {"lone lead byte at the end matched", "\xB0\xA1\xA1", "\xA1", "-", "\xB0\xA1-"},
        {"replacement kept as given", "a b", " ", "\xA1\xA1", "a\xA1\xA1" "b"},
    };
    for (const ReplaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReplaceAll(c.text, c.sub, c.replacement), c.expected);
    }
}

TEST(GbkLiterals, AreCompiledAsGbkBytes) {
    EXPECT_EQ(Text("誠"), Text("\xD5\x5C"));
    EXPECT_EQ(Text("中"), Text("\xD6\xD0"));
}

}  // namespace
