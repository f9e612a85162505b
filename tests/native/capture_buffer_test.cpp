#include "webview/capture_buffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Records every size asked for and grants those up to a limit, without really taking the memory
// (the planner only ever looks at its answer).
struct RecordingAllocator {
    std::size_t limit = static_cast<std::size_t>(-1);
    std::vector<std::size_t> asked;

    ImageAllocator Get() {
        return [this](ByteBuffer& out, std::size_t size) {
            asked.push_back(size);
            if (size > limit) return false;
            out.assign(1, 0);
            return true;
        };
    }
};

struct PlanCase {
    const char* what;
    std::int32_t width, height;
    std::int32_t rows, pixelBytes;
};

TEST(CaptureBuffer, TakesAllRowsOrTheMostTheFormatHolds) {
    const PlanCase cases[] = {
        {"1024 x 3000: whole", 1024, 3000, 3000, 12'288'000},
        {"S + 54 just fits", 1, 536'870'898, 536'870'898, 2'147'483'592},
        // (2,147,483,647 - 54) / 3,200 = 671,088.6
        {"800 x 900,000: the top 671,088 rows", 800, 900'000, 671'088, 2'147'481'600},
        {"800 x INT_MAX", 800, 2'147'483'647, 671'088, 2'147'481'600},
        {"a row wider than the format", 600'000'000, 10, 0, 0},
        {"zero height", 1024, 0, 0, 0},
        {"zero width keeps its height", 0, 600, 600, 0},
        {"failed height query", 800, -1, 0, 0},
        {"failed width query", -1, 600, 600, 0},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingAllocator allocator;
        const CaptureBuffer buffer = AllocateCaptureBuffer(c.width, c.height, allocator.Get());
        EXPECT_EQ(buffer.rows, c.rows);
        EXPECT_EQ(buffer.pixelBytes, c.pixelBytes);
        EXPECT_EQ(buffer.width, c.width < 0 ? 0 : c.width);
        EXPECT_FALSE(buffer.image.empty());
        ASSERT_EQ(allocator.asked.size(), 1u);
        EXPECT_EQ(allocator.asked[0], static_cast<std::size_t>(c.pixelBytes) + 54);
    }
}

TEST(CaptureBuffer, FewerRowsWhileMemoryIsShort) {
    RecordingAllocator allocator;
    allocator.limit = 100'000'054;  // room for 31,250 rows of 800 pixels
    const CaptureBuffer buffer = AllocateCaptureBuffer(800, 900'000, allocator.Get());
    ASSERT_FALSE(buffer.image.empty());
    EXPECT_LE(buffer.rows, 31'250);
    EXPECT_GT(buffer.rows, 31'250 * 7 / 8) << "gave up more rows than an eighth";
    EXPECT_EQ(buffer.pixelBytes, buffer.rows * 800 * 4);
    // Each try asks for less than the one before, and only the last one was granted.
    ASSERT_GE(allocator.asked.size(), 2u);
    EXPECT_EQ(allocator.asked.front(), 2'147'481'654u);
    for (std::size_t i = 1; i < allocator.asked.size(); ++i) {
        EXPECT_LT(allocator.asked[i], allocator.asked[i - 1]);
        EXPECT_EQ((allocator.asked[i] - 54) % 3200, 0u) << "not whole rows";
    }
    EXPECT_EQ(allocator.asked.back(), static_cast<std::size_t>(buffer.pixelBytes) + 54);
}

TEST(CaptureBuffer, NoMemoryAtAllEndsAtTheBareHeadersThenEmpty) {
    for (std::size_t limit : {std::size_t{54}, std::size_t{0}}) {
        SCOPED_TRACE(limit);
        RecordingAllocator allocator;
        allocator.limit = limit;
        const CaptureBuffer buffer = AllocateCaptureBuffer(1024, 3000, allocator.Get());
        EXPECT_EQ(buffer.rows, 0);
        EXPECT_EQ(buffer.pixelBytes, 0);
        EXPECT_EQ(buffer.image.empty(), limit == 0);
        EXPECT_EQ(allocator.asked.back(), 54u);
        EXPECT_LT(allocator.asked.size(), 80u) << "rows were given up too slowly";
    }
}

TEST(CaptureBuffer, ARealAllocationIsZeroFilled) {
    const CaptureBuffer buffer = AllocateCaptureBuffer(3, 2, [](ByteBuffer& out, std::size_t size) {
        out.assign(size, 0);
        return true;
    });
    EXPECT_EQ(buffer.image, ByteBuffer(54 + 24, 0));
}

}  // namespace
