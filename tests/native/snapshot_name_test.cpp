#include "app/snapshot_name.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct TimeCase {
    CaptureMoment moment;
    Text expected;
};

TEST(FormatCaptureTime, DropsTrailingZeroFields) {
    const TimeCase cases[] = {
        {{2020, 11, 17, 15, 4, 27}, "2020年11月17日15时4分27秒"},
        {{2020, 11, 17, 15, 4, 0}, "2020年11月17日15时4分"},
        {{2020, 11, 17, 15, 0, 0}, "2020年11月17日15时"},
        {{2020, 11, 17, 0, 0, 0}, "2020年11月17日"},
        // Only the trailing zeros go: a zero hour or minute before a non-zero field stays.
        {{2021, 1, 2, 0, 0, 5}, "2021年1月2日0时0分5秒"},
        {{2021, 1, 2, 0, 30, 0}, "2021年1月2日0时30分"},
        {{2021, 12, 31, 23, 59, 59}, "2021年12月31日23时59分59秒"},
    };
    for (const TimeCase& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(FormatCaptureTime(c.moment), c.expected);
    }
}

TEST(FormatCaptureTime, WritesGbkBytes) {
    // 年 C4 EA, 月 D4 C2, 日 C8 D5, 时 CA B1, 分 B7 D6, 秒 C3 EB.
    EXPECT_EQ(FormatCaptureTime({2020, 11, 17, 15, 4, 27}),
              "2020\xC4\xEA" "11\xD4\xC2" "17\xC8\xD5" "15\xCA\xB1" "4\xB7\xD6" "27\xC3\xEB");
}

TEST(NameRemovalChars, AreTheTenOneByteTextsInOrder) {
    const std::array<Text, 10> expected = {"\x2F", "\x5C", "\x7C", "\x2A", "\x3F",
                                           "\x3A", "\x2C", "\x3C", "\x3E", "\x22"};
    EXPECT_EQ(NameRemovalChars, expected);
}

// A page whose title is fetched through a counted callable, as StoreSnapshot asks the view.
class SnapshotNameTest : public ::testing::Test {
protected:
    Text Build(int sequenceNumber, const SnapshotNameOptions& options, const Text& time = "") {
        return BuildSnapshotName(sequenceNumber, image, options, [this] { ++titleCalls; return title; }, time);
    }

    ByteBuffer image{'a', 'b', 'c'};
    static constexpr const char* kImageDigest = "900150983cd24fb0d6963f7d28e17f72";
    Text title = "A/B: c?";
    int titleCalls = 0;
};

constexpr SnapshotNameOptions kSequence{true, false, false, false};
constexpr SnapshotNameOptions kDigest{false, true, false, false};
constexpr SnapshotNameOptions kTitle{false, false, true, false};
constexpr SnapshotNameOptions kTime{false, false, false, true};
constexpr SnapshotNameOptions kStartOptions{true, true, false, false};
constexpr SnapshotNameOptions kAll{true, true, true, true};
constexpr SnapshotNameOptions kNone{};

TEST_F(SnapshotNameTest, StartOptionsGiveSequenceAndDigest) {
    EXPECT_EQ(Build(3, kStartOptions), Text("3_") + kImageDigest);
}

TEST_F(SnapshotNameTest, SingleParts) {
    EXPECT_EQ(Build(1, kSequence), "1");
    EXPECT_EQ(Build(12, kSequence), "12");
    EXPECT_EQ(Build(1, kDigest), kImageDigest);
    EXPECT_EQ(Build(1, kTitle), "ABc");
    EXPECT_EQ(Build(1, kTime, "2020年11月17日15时"), "2020年11月17日15时");
}

TEST_F(SnapshotNameTest, NoOptionGivesTheEmptyName) {
    EXPECT_EQ(Build(5, kNone, "2020年11月17日"), "");
}

TEST_F(SnapshotNameTest, TitleTickedWithoutTitleGivesTheEmptyName) {
    title = "";
    EXPECT_EQ(Build(5, kTitle), "");
}

TEST_F(SnapshotNameTest, EmptyImageUsesTheDigestOfZeroBytes) {
    image.clear();
    EXPECT_EQ(Build(2, kStartOptions), "2_d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(SnapshotNameTest, PartsComeInFixedOrderAndTheTimeIsNotCleaned) {
    EXPECT_EQ(Build(3, kAll, "1 2:3"), Text("3_") + kImageDigest + "_ABc_1 2:3");
}

TEST_F(SnapshotNameTest, CleaningRemovesAllTenCharactersAndSpaces) {
    title = "a/b\\c|d*e?f:g,h<i>j\"k l\xA1\xA1m";
    EXPECT_EQ(Build(7, {true, false, true, false}), "7_abcdefghijklm");
}

TEST_F(SnapshotNameTest, CleaningKeepsTabsAndTwoByteCharacters) {
    title = "a\tb \xA1\xA1誠/中";
    EXPECT_EQ(Build(1, kTitle), "a\tb\xD5\x5C\xD6\xD0");
}

TEST_F(SnapshotNameTest, TitleFetchedOnlyWhenTicked) {
    for (const SnapshotNameOptions& options : {kNone, kSequence, kDigest, kTime, kStartOptions}) {
        Build(1, options, "t");
    }
    EXPECT_EQ(titleCalls, 0);
    Build(1, kTitle);
    EXPECT_EQ(titleCalls, 1);
    Build(1, kAll, "t");
    EXPECT_EQ(titleCalls, 2);
}

TEST_F(SnapshotNameTest, EmptyTitleStillAddsItsSeparator) {
    title = "";
    EXPECT_EQ(Build(4, {true, false, true, false}), "4_");
}

TEST(BuildSnapshotName, MissingTitleSourceCountsAsEmptyTitle) {
    EXPECT_EQ(BuildSnapshotName(4, ByteBuffer(), {true, false, true, false}, nullptr, ""), "4_");
}

}  // namespace

// ---- names fitted to the file system ----------------------------------------------------------

namespace {

// A measure like code page 936's: an ASCII byte is one UTF-16 unit and one UTF-8 byte; a two-byte
// character is one unit and three UTF-8 bytes, except the middle dot (A1 A4, U+00B7), two.
std::size_t ModelUnits(std::string_view gbk) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < gbk.size(); i += IsLeadByte(gbk[i]) && i + 1 < gbk.size() ? 2 : 1) ++units;
    return units;
}
std::size_t ModelUtf8Bytes(std::string_view gbk) {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < gbk.size();) {
        if (IsLeadByte(gbk[i]) && i + 1 < gbk.size()) {
            bytes += gbk.substr(i, 2) == "\xA1\xA4" ? 2 : 3;
            i += 2;
        } else {
            bytes += 1;
            i += 1;
        }
    }
    return bytes;
}

NameFit WindowsFit(std::size_t folderUnits = 3) {
    NameFit fit;
    fit.folderUnits = folderUnits;
    fit.utf16Units = ModelUnits;
    fit.utf8Bytes = ModelUtf8Bytes;
    return fit;
}
NameFit WineFit(std::size_t folderUnits = 3) {
    NameFit fit = WindowsFit(folderUnits);
    fit.nameUtf8Bytes = 255;
    return fit;
}

Text Repeat(const Text& piece, int times) {
    Text out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// True when the text walks by characters to its very end (no half of a pair left over).
bool EndsOnCharacter(const Text& text) {
    std::size_t i = 0;
    while (i < text.size()) i += IsLeadByte(text[i]) ? 2 : 1;
    return i == text.size();
}

const Text kClock = "2020年11月17日15时4分27秒";
const Text kDigestOfAbc = "900150983cd24fb0d6963f7d28e17f72";

}  // namespace

TEST(FittedSnapshotName, NamesThatFitAreByteForByteTheUnfittedOnes) {
    const Text titles[] = {"A/B: c?", "誠中 文\xA1\xA1", "", Repeat("中", 50), Repeat("x", 150)};
    const ByteBuffer image{'a', 'b', 'c'};
    for (int bits = 0; bits < 16; ++bits) {
        const SnapshotNameOptions options{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0};
        for (const Text& title : titles) {
            SCOPED_TRACE(testing::Message() << "options " << bits << ", title of " << title.size() << " bytes");
            auto get = [&] { return title; };
            const Text plain = BuildSnapshotName(7, image, options, get, kClock);
            EXPECT_EQ(BuildSnapshotName(7, image, options, get, kClock, WindowsFit()), plain);
            EXPECT_EQ(BuildSnapshotName(7, image, options, get, kClock, WineFit()), plain);
        }
    }
}

TEST(FittedSnapshotName, TheLimitItselfFitsAndOneMoreCharacterIsCut) {
    const ByteBuffer image;
    const SnapshotNameOptions titleOnly{false, false, true, false};
    // 251 characters and ".jpg" are exactly 255 units.
    for (const auto& [characters, kept] : {std::pair{250, 250}, {251, 251}, {252, 251}, {400, 251}}) {
        SCOPED_TRACE(characters);
        const Text title = Repeat("a", characters);
        EXPECT_EQ(BuildSnapshotName(1, image, titleOnly, [&] { return title; }, "", WindowsFit()),
                  Repeat("a", kept));
    }
}

struct LongTitleCase {
    const char* what;
    SnapshotNameOptions options;
    Text title;
    NameFit fit;
    Text expected;  // the whole name
};

TEST(FittedSnapshotName, ALongTitleIsCutAtACharacterAndTheOtherPartsStay) {
    const ByteBuffer image{'a', 'b', 'c'};
    const Text head = "3_" + kDigestOfAbc + "_";  // 35 bytes, 35 units
    const LongTitleCase cases[] = {
        // 255 - 4 - 35 = 216 units: 216 characters of 中.
        {"Windows: units", {true, true, true, false}, Repeat("中", 400), WindowsFit(), head + Repeat("中", 216)},
        // 255 - 4 - 35 = 216 UTF-8 bytes: 72 characters of three bytes.
        {"Wine: UTF-8 bytes", {true, true, true, false}, Repeat("中", 400), WineFit(), head + Repeat("中", 72)},
        // Two-byte middle dots fit 108 times where three-byte characters fit 72.
        {"Wine: two-byte UTF-8", {true, true, true, false}, Repeat("\xA1\xA4", 400), WineFit(),
         head + Repeat("\xA1\xA4", 108)},
        // One ASCII byte first: the cut falls where a pair would be halved by a byte count.
        {"Wine: odd offset", {true, true, true, false}, "a" + Repeat("中", 400), WineFit(), head + "a" + Repeat("中", 71)},
        // 誠 ends in the byte of a backslash: it is kept whole or dropped whole.
        {"second byte 5C", {false, false, true, false}, Repeat("誠", 300), WineFit(), Repeat("誠", 83)},
        // A long folder: 259 - 200 = 59 units for the name with ".jpg".
        {"MAX_PATH", {true, true, true, false}, Repeat("中", 400), WindowsFit(200), head + Repeat("中", 20)},
        {"MAX_PATH under Wine", {true, true, true, false}, Repeat("中", 400), WineFit(200), head + Repeat("中", 20)},
        // The time stays after the cut title: 255 - 4 - 35 - 1 - 19 units.
        {"with the time", {true, true, true, true}, Repeat("中", 400), WindowsFit(), head + Repeat("中", 196) + "_" + kClock},
        // Cleaning happens before the cut: removed characters take no room.
        {"cleaned first", {false, false, true, false}, Repeat("中 /", 300), WindowsFit(), Repeat("中", 251)},
        // Only a title ticked and a folder that leaves no room even for one character.
        {"no room at all", {false, false, true, false}, Repeat("中", 10), WindowsFit(255), ""},
    };
    for (const LongTitleCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Text name = BuildSnapshotName(3, image, c.options, [&] { return c.title; }, kClock, c.fit);
        EXPECT_EQ(name, c.expected);
        EXPECT_TRUE(EndsOnCharacter(name));
        EXPECT_LE(ModelUnits(name) + 4, c.fit.nameUnits);
        EXPECT_LE(c.fit.folderUnits + ModelUnits(name) + 4, c.fit.pathUnits);
        if (c.fit.nameUtf8Bytes) {
            EXPECT_LE(ModelUtf8Bytes(name) + 4, c.fit.nameUtf8Bytes);
        }
    }
}

TEST(FittedSnapshotName, EveryOptionWithALongTitleFitsAndKeepsItsParts) {
    const ByteBuffer image{'a', 'b', 'c'};
    const Text title = Repeat("中a", 300);
    for (int bits = 0; bits < 16; ++bits) {
        const SnapshotNameOptions options{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0};
        SCOPED_TRACE(bits);
        const NameFit fit = WineFit(40);
        const Text plain = BuildSnapshotName(12, image, options, [&] { return title; }, kClock);
        const Text name = BuildSnapshotName(12, image, options, [&] { return title; }, kClock, fit);
        EXPECT_LE(ModelUtf8Bytes(name) + 4, 255u);
        EXPECT_LE(40 + ModelUnits(name) + 4, 259u);
        EXPECT_TRUE(EndsOnCharacter(name));
        if (options.sequenceNumber) {
            EXPECT_EQ(name.rfind("12", 0), 0u);
        }
        if (options.md5Digest) {
            EXPECT_NE(name.find(kDigestOfAbc), Text::npos);
        }
        if (options.captureTime) {
            ASSERT_GE(name.size(), kClock.size());
            EXPECT_EQ(name.substr(name.size() - kClock.size()), kClock);
        }
        // Only a title makes a name too long here.
        if (options.pageTitle) {
            EXPECT_NE(name, plain);
        } else {
            EXPECT_EQ(name, plain);
        }
    }
}

TEST(FittedSnapshotName, ANameTooLongWithoutItsTitleIsLeftWhole) {
    const ByteBuffer image{'a', 'b', 'c'};
    const SnapshotNameOptions all{true, true, true, true};
    const Text title = Repeat("中", 50);
    EXPECT_EQ(BuildSnapshotName(1, image, all, [&] { return title; }, kClock, WindowsFit(250)),
              BuildSnapshotName(1, image, all, [&] { return title; }, kClock));
}
