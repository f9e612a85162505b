// Capturing a frame in pieces: the plan, the conversion into the caller's rows, and the
// pipeline that asks for pieces and decodes them, against fake answers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "bgra_rows.h"
#include "capture_pipeline.h"
#include "capture_plan.h"

using namespace wkechr;

TEST(CapturePlan, PiecesCoverEveryRowOnceInOrder) {
    struct Case {
        int height;
        PlanShape shape;
        size_t count;  // 0: not checked
    } cases[] = {
        {1, {1000, 0}, 1},      {599, {1000, 0}, 1},    {4096, {4096, 0}, 1},  {4097, {4096, 0}, 2},
        {40000, {8000, 0}, 5},  {200000, {1, 0}, 200000}, {40000, {16000, 2000}, 4},
        {40000, {8000, 8000}, 5}, {16001, {16000, 2000}, 2}, {1500, {1000, 2000}, 2},
        {150000, {16000, 3000}, 11}, {3000, {16000, 2000}, 1}, {8000, {16000, 2000}, 1},
        {8001, {16000, 2000}, 2},    {40000, {40000, 2500}, 2}, {150000, {40000, 2500}, 5},
    };
    for (const auto& c : cases) {
        const auto pieces = PlanPieces(c.height, c.shape);
        if (c.count) {
            EXPECT_EQ(pieces.size(), c.count) << c.height;
        }
        int next = 0, smallest = c.height, largest = 0;
        for (size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i].top, next);
            EXPECT_GT(pieces[i].rows, 0);
            EXPECT_LE(pieces[i].rows, c.shape.pieceRows);
            if (i + 1 < pieces.size()) {
                smallest = std::min(smallest, pieces[i].rows);
                largest = std::max(largest, pieces[i].rows);
            }
            next += pieces[i].rows;
        }
        EXPECT_EQ(next, c.height);
        if (c.shape.lastRows && pieces.size() > 1) {
            EXPECT_LE(pieces.back().rows, c.shape.lastRows) << c.height;
        }
        if (pieces.size() > 2) {
            EXPECT_LE(largest - smallest, 1) << "uneven pieces for " << c.height;
        }
    }
    EXPECT_TRUE(PlanPieces(0, {100, 0}).empty());
    EXPECT_TRUE(PlanPieces(-5, {100, 0}).empty());
    for (int width : {1, 800, 100000}) {
        const PlanShape shape = PlanShapeFor(width);
        EXPECT_GE(shape.pieceRows, 64) << width;
        EXPECT_GE(shape.pieceRows, shape.lastRows) << width;
    }
}

TEST(CapturePlan, ClipsInCssPixelsFollowZoomAndScroll) {
    struct Case {
        Piece piece;
        int width;
        double zoom, scrollX, scrollY;
        CssRect clip;
    } cases[] = {
        {{0, 600}, 800, 1.0, 0, 0, {0, 0, 800, 600}},
        {{100, 50}, 800, 2.0, 10, 300, {10, 350, 400, 25}},
        {{1000, 300}, 300, 1.5, 0, 20, {0, 20 + 1000 / 1.5, 200, 200}},
        {{8, 4}, 10, 0.0, 0, 0, {0, 8, 10, 4}},  // no zoom known: one to one
    };
    for (const auto& c : cases) {
        const CssRect clip = PieceClip(c.piece, c.width, c.zoom, c.scrollX, c.scrollY);
        EXPECT_DOUBLE_EQ(clip.x, c.clip.x);
        EXPECT_DOUBLE_EQ(clip.y, c.clip.y);
        EXPECT_DOUBLE_EQ(clip.width, c.clip.width);
        EXPECT_DOUBLE_EQ(clip.height, c.clip.height);
    }
}

TEST(BgraRows, BlitSwapsToBgraHonoursPitchAndAnyAlignment) {
    const int w = 3, h = 2;
    std::vector<uint8_t> rgba(w * h * 4);
    for (int i = 0; i < w * h; ++i) {
        rgba[4 * i] = uint8_t(i);
        rgba[4 * i + 1] = uint8_t(10 + i);
        rgba[4 * i + 2] = uint8_t(20 + i);
        rgba[4 * i + 3] = uint8_t(200 + i);
    }
    const size_t pitch = w * 4 + 5;
    std::vector<uint8_t> memory(1 + pitch * h + 8, 0xAB);
    uint8_t* dest = memory.data() + 1;  // not 4-byte aligned
    BlitRgbaToBgra(rgba.data(), w, h, dest, w, h, pitch);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int i = y * w + x;
            const uint8_t* p = dest + y * pitch + x * 4;
            EXPECT_EQ(p[0], 20 + i);
            EXPECT_EQ(p[1], 10 + i);
            EXPECT_EQ(p[2], i);
            EXPECT_EQ(p[3], 200 + i);
        }
        for (size_t gap = w * 4; gap < pitch && y + 1 < h; ++gap) EXPECT_EQ(dest[y * pitch + gap], 0xAB);
    }
    EXPECT_EQ(memory[0], 0xAB);
    EXPECT_EQ(memory[1 + pitch * (h - 1) + w * 4], 0xAB);

    const uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
    uint8_t out[9] = {};
    RgbToBgraRow(rgb, out + 1, 2);
    const uint8_t expected[9] = {0, 3, 2, 1, 255, 6, 5, 4, 255};
    EXPECT_EQ(std::memcmp(out, expected, 9), 0);
}

TEST(BgraRows, BlitFillsWhatTheImageLacksWithWhite) {
    std::vector<uint8_t> rgba(2 * 1 * 4, 0);  // 2 x 1 black
    std::vector<uint8_t> dest(3 * 2 * 4, 0x11);
    BlitRgbaToBgra(rgba.data(), 2, 1, dest.data(), 3, 2, 12);
    EXPECT_EQ(dest[0], 0);
    EXPECT_EQ(dest[8], 0xFF);   // column beyond the image
    EXPECT_EQ(dest[12], 0xFF);  // row beyond the image
    EXPECT_EQ(dest[23], 0xFF);
    BlitRgbaToBgra(nullptr, 0, 0, dest.data(), 3, 2, 12);
    EXPECT_EQ(dest, std::vector<uint8_t>(24, 0xFF));
}

// ---- the pipeline ---------------------------------------------------------------------------

namespace {

constexpr int kWidth = 4;

// Each piece's answer is its index; decoding writes that index into every byte of its rows.
struct Frame {
    std::vector<Piece> pieces;
    std::vector<uint8_t> bits;
    explicit Frame(int height, PlanShape shape) : pieces(PlanPieces(height, shape)), bits(size_t(height) * kWidth * 4, 0) {}
    PipelineOptions Options(Millis budgetMs, int inFlight = 1) {
        PipelineOptions options;
        options.dest = bits.data();
        options.width = kWidth;
        options.pitch = kWidth * 4;
        options.deadline = Deadline::In(budgetMs);
        options.inFlight = inFlight;
        options.graceMs = 100;
        return options;
    }
    // The value every byte of piece `i` holds.
    int Value(size_t i) const {
        const uint8_t* row = bits.data() + size_t(pieces[i].top) * kWidth * 4;
        for (size_t b = 0; b < size_t(pieces[i].rows) * kWidth * 4; ++b)
            if (row[b] != row[0]) return -1;
        return row[0];
    }
};

DecodePiece Marking(std::atomic<int>* decoding = nullptr, std::atomic<int>* mostDecoding = nullptr, int sleepMs = 0) {
    return [=](std::string& payload, std::string& scratch, const Piece& piece, uint8_t* rows) {
        if (decoding) {
            int now = ++*decoding;
            int seen = mostDecoding->load();
            while (now > seen && !mostDecoding->compare_exchange_weak(seen, now)) {
            }
        }
        if (sleepMs) std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
        scratch = payload;  // the decoder's own buffer, reused between pieces
        std::memset(rows, std::stoi(scratch), size_t(piece.rows) * kWidth * 4);
        if (decoding) --*decoding;
        return true;
    };
}

// A browser on a thread of its own: answers requests in order after `delayMs`, and records how
// many were outstanding at once. Requests it is told to hold are answered only at its end.
class FakeBrowser {
public:
    explicit FakeBrowser(int delayMs, size_t holdFrom = SIZE_MAX, Status failing = Status::Ok, size_t failAt = SIZE_MAX)
        : delayMs_(delayMs), holdFrom_(holdFrom), failing_(failing), failAt_(failAt), thread_([this] { Run(); }) {}
    ~FakeBrowser() {
        {
            std::lock_guard lock(m_);
            ending_ = true;
        }
        cv_.notify_all();
        thread_.join();
        for (auto& [index, answer] : held_) answer({Status::Ok, std::to_string(index)});  // late answers
    }
    AskPiece Ask() {
        return [this](size_t index, Deadline, std::function<void(PieceAnswer)> answer) {
            std::lock_guard lock(m_);
            asked_.push_back(index);
            queue_.emplace_back(index, std::move(answer));
            mostOutstanding_ = std::max(mostOutstanding_, queue_.size());
            cv_.notify_all();
        };
    }
    std::vector<size_t> Asked() {
        std::lock_guard lock(m_);
        return asked_;
    }
    size_t MostOutstanding() {
        std::lock_guard lock(m_);
        return mostOutstanding_;
    }

private:
    void Run() {
        std::unique_lock lock(m_);
        for (;;) {
            cv_.wait(lock, [&] { return ending_ || (!queue_.empty() && queue_.front().first < holdFrom_); });
            if (ending_) break;
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
            lock.lock();
            auto [index, answer] = std::move(queue_.front());
            queue_.pop_front();
            const bool fails = index == failAt_;
            lock.unlock();
            answer(fails ? PieceAnswer{failing_, {}} : PieceAnswer{Status::Ok, std::to_string(index)});
            lock.lock();
        }
        for (auto& entry : queue_) held_.push_back(std::move(entry));
    }
    int delayMs_;
    size_t holdFrom_;
    Status failing_;
    size_t failAt_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::pair<size_t, std::function<void(PieceAnswer)>>> queue_, held_;
    std::vector<size_t> asked_;
    size_t mostOutstanding_ = 0;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace

TEST(CapturePipeline, AnswersOnTheAskingThreadOrAnotherAllLand) {
    for (bool sameThread : {true, false}) {
        Frame frame(100, {7, 3});
        PipelineStats stats;
        bool whole;
        if (sameThread) {
            AskPiece ask = [](size_t index, Deadline, std::function<void(PieceAnswer)> answer) {
                answer({Status::Ok, std::to_string(index)});
            };
            whole = RunPieces(frame.pieces, frame.Options(10000), ask, Marking(), &stats);
        } else {
            FakeBrowser browser(1);
            whole = RunPieces(frame.pieces, frame.Options(10000), browser.Ask(), Marking(), &stats);
            EXPECT_EQ(browser.MostOutstanding(), 1u) << "clips asked for together come back mixed";
        }
        EXPECT_TRUE(whole);
        EXPECT_EQ(stats.asked, int(frame.pieces.size()));
        EXPECT_EQ(stats.decoded, int(frame.pieces.size()));
        EXPECT_EQ(stats.threadsStarted, 0) << "one piece in flight: the calling thread decodes";
        for (size_t i = 0; i < frame.pieces.size(); ++i) EXPECT_EQ(frame.Value(i), int(i)) << sameThread;
    }
}

TEST(CapturePipeline, OneDecoderPerPieceInFlightAndBoundedAnswers) {
    struct Case {
        int height, inFlight, threads;
    } cases[] = {{100, 3, 2}, {5, 3, 0}, {20, 2, 1}};  // never more decoders than pieces
    for (const auto& c : cases) {
        Frame frame(c.height, {10, 0});
        std::atomic<int> decoding{0}, mostDecoding{0};
        PipelineStats stats;
        // Instant answers, slow decoding: answers pile up unless the pipeline stops asking.
        AskPiece ask = [](size_t index, Deadline, std::function<void(PieceAnswer)> answer) {
            answer({Status::Ok, std::to_string(index)});
        };
        EXPECT_TRUE(RunPieces(frame.pieces, frame.Options(20000, c.inFlight), ask, Marking(&decoding, &mostDecoding, 5),
                              &stats));
        EXPECT_EQ(stats.threadsStarted, c.threads) << c.height;
        EXPECT_LE(mostDecoding.load(), c.threads + 1);
        const int decoders = c.threads + 1;
        EXPECT_LE(stats.mostHeld, c.inFlight + decoders + 1) << c.height;
        for (size_t i = 0; i < frame.pieces.size(); ++i) EXPECT_EQ(frame.Value(i), int(i));
    }
}

TEST(CapturePipeline, TheDeadlineStopsAskingAndLeavesTheRestWhite) {
    // Piece 2 is never answered in time; nothing after it is asked for, and its late answer,
    // arriving after the run, is dropped.
    Frame frame(100, {10, 0});
    PipelineStats stats;
    const auto start = std::chrono::steady_clock::now();
    {
        FakeBrowser browser(1, 2);
        EXPECT_FALSE(RunPieces(frame.pieces, frame.Options(300), browser.Ask(), Marking(), &stats));
        EXPECT_EQ(browser.Asked(), (std::vector<size_t>{0, 1, 2}));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));  // a hang guard only
    EXPECT_EQ(frame.Value(0), 0);
    EXPECT_EQ(frame.Value(1), 1);
    for (size_t i = 2; i < frame.pieces.size(); ++i) EXPECT_EQ(frame.Value(i), 0xFF) << i;

    // A deadline already passed asks for nothing.
    Frame late(30, {10, 0});
    int asked = 0;
    AskPiece ask = [&](size_t, Deadline, std::function<void(PieceAnswer)> answer) {
        ++asked;
        answer({Status::Ok, "1"});
    };
    EXPECT_FALSE(RunPieces(late.pieces, late.Options(0), ask, Marking()));
    EXPECT_EQ(asked, 0);
    for (size_t i = 0; i < late.pieces.size(); ++i) EXPECT_EQ(late.Value(i), 0xFF);
}

TEST(CapturePipeline, AFailedPieceIsWhiteAndALostConnectionStopsAsking) {
    struct Case {
        Status status;
        size_t asked;
    } cases[] = {{Status::ProtocolError, 5}, {Status::TimedOut, 5}, {Status::Closed, 2}};
    for (const auto& c : cases) {
        Frame frame(50, {10, 0});
        PipelineStats stats;
        {
            FakeBrowser browser(0, SIZE_MAX, c.status, 1);
            EXPECT_FALSE(RunPieces(frame.pieces, frame.Options(10000), browser.Ask(), Marking(), &stats));
            EXPECT_EQ(browser.Asked().size(), c.asked) << StatusName(c.status);
        }
        EXPECT_EQ(frame.Value(0), 0);
        EXPECT_EQ(frame.Value(1), 0xFF);
        for (size_t i = 2; i < frame.pieces.size(); ++i) EXPECT_EQ(frame.Value(i), c.asked == 5 ? int(i) : 0xFF);
    }
    // A send that fails at once answers on the asking thread, inside the ask.
    Frame frame(50, {10, 0});
    int asked = 0;
    AskPiece ask = [&](size_t, Deadline, std::function<void(PieceAnswer)> answer) {
        ++asked;
        answer({Status::Closed, {}});
    };
    EXPECT_FALSE(RunPieces(frame.pieces, frame.Options(10000), ask, Marking()));
    EXPECT_EQ(asked, 1);
    for (size_t i = 0; i < frame.pieces.size(); ++i) EXPECT_EQ(frame.Value(i), 0xFF);
}
