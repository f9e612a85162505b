// Asks a window of another process, once a second from a thread of its own, for its text with a
// time limit, and keeps every answer: whether the window's thread answered within the limit, how
// long it took, and what the text was. A frozen window shows as probes that timed out, never as
// a hung test.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wketest {

struct Probe {
    std::int64_t atMs = 0;     // since the watch started
    std::int64_t tookMs = 0;
    bool answered = false;
    std::wstring text;         // the window's text when it answered, else the last one seen
};

class AnswerWatch {
public:
    AnswerWatch(HWND window, int limitMs = 1000, int periodMs = 1000);
    ~AnswerWatch();
    AnswerWatch(const AnswerWatch&) = delete;
    AnswerWatch& operator=(const AnswerWatch&) = delete;

    void Stop();
    std::vector<Probe> Probes() const;
    std::int64_t ElapsedMs() const;
    // The text of the last answer, and how long ago the window last answered at all.
    std::wstring LastText() const;
    std::int64_t SilentForMs() const;
    // How long ago the text last changed (while answering).
    std::int64_t TextSameForMs() const;

private:
    void Run();

    HWND window_;
    int limitMs_;
    int periodMs_;
    ULONGLONG start_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<Probe> probes_;
    std::wstring lastText_;
    std::int64_t lastAnswerMs_ = 0;
    std::int64_t lastChangeMs_ = 0;
    std::thread thread_;
};

size_t Misses(const std::vector<Probe>& probes);
// The most probes in a row that got no answer: about how many seconds the window stood still.
size_t LongestMissRun(const std::vector<Probe>& probes);
// "answered every probe", or the misses, each with the time and the text seen last before it.
std::string DescribeMisses(const std::vector<Probe>& probes, size_t most = 12);

}  // namespace wketest
