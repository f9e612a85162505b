// One batch of Quorlane with the Chromium engine, driven through its window as a user would: the
// list pasted, the save folder typed, only the sequence number ticked (so every address gets its
// own file, N.jpg), Start pressed, the end awaited. The wait is bounded three ways, so a frozen or
// stuck program fails a test instead of hanging it: a whole-batch limit, a limit on one item
// (the status line not changing) and a limit on the window not answering at all.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "answer_watch.h"
#include "tests/driver/driver.h"

namespace wketest {

struct BatchLimits {
    std::int64_t wholeMs = 300000;
    std::int64_t oneItemMs = 100000;  // above the batch's own give-up (60 waits) plus a capture
    std::int64_t silentMs = 40000;  // well above any single engine call's own limit
};

struct BatchEnd {
    bool finished = false;  // the "完成！" box came and was closed
    std::string why;        // when not finished: which limit ended the wait
    std::int64_t elapsedMs = 0;
};

class WindowBatch {
public:
    // Starts quorlane.exe from the test's folder and finds its controls; check Ready().
    WindowBatch();
    ~WindowBatch();
    WindowBatch(const WindowBatch&) = delete;
    WindowBatch& operator=(const WindowBatch&) = delete;

    bool Ready() const { return problem_.empty(); }
    const std::string& Problem() const { return problem_; }
    DWORD ProcessId() const { return program_ ? program_->Id() : 0; }

    // Sets up the list and folder, presses Start; the window is watched from then on.
    bool Begin(const std::vector<std::string>& addresses, const std::wstring& saveFolder);
    BatchEnd WaitForEnd(const BatchLimits& limits);
    // The watch's probes so far (from Begin).
    std::vector<Probe> Probes() const;
    // When each item's status first showed, in ms since Begin (-1: never seen).
    std::vector<std::int64_t> ItemStarts(size_t items) const;
    // Closes the main window and waits for the process; its exit code.
    std::optional<int> Close(DWORD timeoutMs = 60000);

private:
    std::optional<driver::Program> program_;
    HWND window_ = nullptr, list_ = nullptr, folder_ = nullptr, start_ = nullptr, status_ = nullptr;
    HWND sequence_ = nullptr, md5_ = nullptr, title_ = nullptr, time_ = nullptr;
    std::unique_ptr<AnswerWatch> watch_;
    std::vector<Probe> finalProbes_;
    std::string problem_;
};

// A stored snapshot read back: a 32-bit top-down BMP, or why it is not one.
struct StoredImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;
    std::string problem;  // empty when it is a valid BMP of this program's kind
    std::uint32_t At(int x, int y) const;  // 0xRRGGBB
};
StoredImage ReadStoredImage(const std::wstring& path);
bool NearColour(std::uint32_t a, std::uint32_t b, int tolerance = 3);
std::string Hex(std::uint32_t colour);

}  // namespace wketest
