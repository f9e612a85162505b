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
