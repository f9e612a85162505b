#include "capture_pipeline.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "bgra_rows.h"

namespace wkechr {
namespace {

// Shared with the answers' callbacks, which may come after the run has returned: those find
// `closed` set and drop what they bring.
struct State {
    std::mutex m;
    std::condition_variable cv;
    const std::vector<Piece>* pieces = nullptr;
    const AskPiece* ask = nullptr;  // used only while not closed
    PipelineOptions options;
    int maxHeld = 0;
    std::deque<std::pair<size_t, std::string>> waiting;
    std::vector<bool> written;
    size_t next = 0;
    int awaiting = 0;
    int decoding = 0;
    bool stopped = false;  // the connection is gone: nothing more is asked
    bool closed = false;
    bool pumping = false;
    bool repump = false;
    bool allGood = true;
    PipelineStats stats;

    int Held() const { return awaiting + static_cast<int>(waiting.size()) + decoding; }
    void NoteHeld() { stats.mostHeld = std::max(stats.mostHeld, Held()); }
    bool CanAsk() const {
        return !closed && !stopped && next < pieces->size() && awaiting < options.inFlight && Held() < maxHeld &&
               !options.deadline.Passed();
    }
    bool AskingOver() const { return closed || stopped || next >= pieces->size() || options.deadline.Passed(); }
};

void OnAnswer(const std::shared_ptr<State>& s, size_t index, PieceAnswer answer);

// Sends what may be sent now. Asking may answer at once on this thread (a failed send): that
// answer's own call finds `pumping` set and leaves the next request to the loop here.
void Pump(const std::shared_ptr<State>& s) {
    std::unique_lock lock(s->m);
    if (s->pumping) {
        s->repump = true;
        return;
    }
    s->pumping = true;
    do {
        s->repump = false;
        while (s->CanAsk()) {
            const size_t index = s->next++;
            ++s->awaiting;
            ++s->stats.asked;
            s->NoteHeld();
            const Deadline deadline = s->options.deadline;
            lock.unlock();
            (*s->ask)(index, deadline, [s, index](PieceAnswer answer) { OnAnswer(s, index, std::move(answer)); });
            lock.lock();
        }
    } while (s->repump);
    s->pumping = false;
    s->cv.notify_all();
}

void OnAnswer(const std::shared_ptr<State>& s, size_t index, PieceAnswer answer) {
    {
        std::lock_guard lock(s->m);
        --s->awaiting;
        if (s->closed) return;
        if (answer.status == Status::Ok) {
            s->waiting.emplace_back(index, std::move(answer.payload));
        } else {
            s->allGood = false;
            if (answer.status == Status::Closed) s->stopped = true;
        }
        s->cv.notify_all();
    }
    Pump(s);
}

// Decodes answers until nothing more can come; past the deadline and its grace it stops
// waiting for answers still out.
void DecodeLoop(const std::shared_ptr<State>& s, const DecodePiece& decode) {
    std::string scratch;
    const auto steady = [](Millis at) {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(at));
    };
    std::unique_lock lock(s->m);
    for (;;) {
        if (!s->waiting.empty()) {
            auto [index, payload] = std::move(s->waiting.front());
            s->waiting.pop_front();
            ++s->decoding;
            lock.unlock();
            const Piece& piece = (*s->pieces)[index];
            uint8_t* rows = s->options.dest + static_cast<size_t>(piece.top) * s->options.pitch;
            const bool good = decode(payload, scratch, piece, rows);
            std::string().swap(payload);
            lock.lock();
            --s->decoding;
            s->written[index] = true;
            ++s->stats.decoded;
            if (!good) s->allGood = false;
            lock.unlock();
            Pump(s);
            lock.lock();
            continue;
        }
        if (s->closed || (s->AskingOver() && s->awaiting == 0)) return;
        const Millis deadline = s->options.deadline.When();
        if (NowMillis() >= deadline + s->options.graceMs) {
            s->closed = true;  // answers still out are given up
            s->cv.notify_all();
            return;
        }
        // Woken by an answer, a decoded piece, or the deadline (then its grace) passing.
        const Millis wake = NowMillis() < deadline ? deadline : deadline + s->options.graceMs;
        s->cv.wait_until(lock, steady(wake));
    }
}

}  // namespace

bool RunPieces(const std::vector<Piece>& pieces, const PipelineOptions& options, const AskPiece& ask,
               const DecodePiece& decode, PipelineStats* stats) {
    if (!options.dest || options.width <= 0 || pieces.empty()) return false;
    auto s = std::make_shared<State>();
    s->pieces = &pieces;
    s->ask = &ask;
    s->options = options;
    s->options.inFlight = std::max(1, options.inFlight);
    s->written.assign(pieces.size(), false);
    const int decoders = static_cast<int>(std::min<size_t>(static_cast<size_t>(s->options.inFlight), pieces.size()));
    // Enough to keep every request and every decoder busy, and one answer ready besides.
    s->maxHeld = s->options.inFlight + decoders + 1;

    // The calling thread is the first decoder.
    std::vector<std::thread> threads;
    for (int i = 1; i < decoders; ++i) threads.emplace_back([s, &decode] { DecodeLoop(s, decode); });
    s->stats.threadsStarted = static_cast<int>(threads.size());
    Pump(s);
    DecodeLoop(s, decode);
    {
        std::unique_lock lock(s->m);
        s->closed = true;
        s->cv.notify_all();
        s->cv.wait(lock, [&] { return !s->pumping; });
    }
    for (auto& thread : threads) thread.join();

    std::lock_guard lock(s->m);
    bool whole = s->allGood;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (s->written[i]) continue;
        whole = false;
        FillWhite(options.dest + static_cast<size_t>(pieces[i].top) * options.pitch, options.width, pieces[i].rows,
                  options.pitch);
    }
    if (stats) *stats = s->stats;
    return whole;
}

}  // namespace wkechr
