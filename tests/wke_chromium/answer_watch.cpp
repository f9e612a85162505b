#include "answer_watch.h"

#include <algorithm>

#include <cstdio>

namespace wketest {

AnswerWatch::AnswerWatch(HWND window, int limitMs, int periodMs)
    : window_(window), limitMs_(limitMs), periodMs_(periodMs), start_(GetTickCount64()) {
    thread_ = std::thread([this] { Run(); });
}

AnswerWatch::~AnswerWatch() { Stop(); }

void AnswerWatch::Stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

std::int64_t AnswerWatch::ElapsedMs() const { return static_cast<std::int64_t>(GetTickCount64() - start_); }

std::vector<Probe> AnswerWatch::Probes() const {
    std::lock_guard lock(mutex_);
    return probes_;
}

std::wstring AnswerWatch::LastText() const {
    std::lock_guard lock(mutex_);
    return lastText_;
}

std::int64_t AnswerWatch::SilentForMs() const {
    std::lock_guard lock(mutex_);
    return ElapsedMs() - lastAnswerMs_;
}

std::int64_t AnswerWatch::TextSameForMs() const {
    std::lock_guard lock(mutex_);
    return ElapsedMs() - lastChangeMs_;
}

void AnswerWatch::Run() {
    for (std::int64_t next = 0; !stopping_; next += periodMs_) {
        while (!stopping_ && ElapsedMs() < next) Sleep(20);
        if (stopping_) break;
        // A probe that used its whole second is followed by the next one at once, not queued up.
        if (ElapsedMs() > next + periodMs_) next = ElapsedMs();
        Probe probe;
        probe.atMs = ElapsedMs();
        wchar_t text[512] = {};
        DWORD_PTR copied = 0;
        const LRESULT sent = SendMessageTimeoutW(window_, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                                                 SMTO_NORMAL, static_cast<UINT>(limitMs_), &copied);
        probe.tookMs = ElapsedMs() - probe.atMs;
        probe.answered = sent != 0;
        std::lock_guard lock(mutex_);
        if (probe.answered) {
            const std::wstring now(text, wcsnlen(text, std::size(text)));
            if (now != lastText_) lastChangeMs_ = probe.atMs;
            lastText_ = now;
            lastAnswerMs_ = probe.atMs + probe.tookMs;
        }
        probe.text = lastText_;
        probes_.push_back(std::move(probe));
        if (!IsWindow(window_)) break;
    }
}

size_t Misses(const std::vector<Probe>& probes) {
    size_t misses = 0;
    for (const Probe& probe : probes) misses += probe.answered ? 0 : 1;
    return misses;
}

size_t LongestMissRun(const std::vector<Probe>& probes) {
    size_t run = 0, longest = 0;
    for (const Probe& probe : probes) {
        run = probe.answered ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

std::string DescribeMisses(const std::vector<Probe>& probes, size_t most) {
    std::string out;
    size_t misses = 0;
    for (const Probe& probe : probes) {
        if (probe.answered) continue;
        if (++misses > most) continue;
        char line[160];
        std::snprintf(line, sizeof line, "\n  at %.1f s no answer within %lld ms; last text: ", probe.atMs / 1000.0,
                      static_cast<long long>(probe.tookMs));
        out += line;
        char utf8[1024];
        const int n = WideCharToMultiByte(CP_UTF8, 0, probe.text.c_str(), static_cast<int>(probe.text.size()), utf8,
                                          sizeof utf8, nullptr, nullptr);
        out.append(utf8, n > 0 ? static_cast<size_t>(n) : 0);
    }
    char head[96];
    std::snprintf(head, sizeof head, "%zu of %zu probes unanswered", misses, probes.size());
    return misses == 0 ? "answered every probe (" + std::to_string(probes.size()) + ")" : head + out;
}

}  // namespace wketest
