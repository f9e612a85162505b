// Taking a frame's pieces: each piece is asked for as soon as the browser can take it (the
// moment the previous answer arrives, from the thread that delivers it), while the pieces
// already answered are decoded into the caller's rows. Nothing is asked once the frame's
// deadline has passed; rows of pieces not decoded in time become white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture_plan.h"
#include "deadline.h"
#include "status.h"

namespace wkechr {

struct PieceAnswer {
    Status status = Status::Closed;
    std::string payload;  // the encoded piece, when ok
};

// One decoder thread per piece in flight, the calling thread being the first.
struct PipelineOptions {
    uint8_t* dest = nullptr;
    int width = 0;
    size_t pitch = 0;
    Deadline deadline = Deadline::In(0);
    int inFlight = 1;     // requests awaiting an answer at once
    int maxWaiting = 1;   // answers held waiting for a decoder, at most
    int64_t graceMs = 0;  // after the deadline, how long answers already asked for are still awaited
};

// What a run did, for tests: the answers held at once (asked for, waiting or being decoded) and
// the threads it started.
struct PipelineStats {
    int asked = 0;
    int decoded = 0;
    int mostHeld = 0;
    int threadsStarted = 0;
};

// Asks for piece `index`; `answer` is to be called once, on any thread, maybe before returning.
using AskPiece = std::function<void(size_t index, Deadline deadline, std::function<void(PieceAnswer)> answer)>;
// Writes every row of `piece` at `rows` from the answer's payload; true when exact. `scratch`
// belongs to the decoding thread and is kept between its pieces.
using DecodePiece = std::function<bool(std::string& payload, std::string& scratch, const Piece& piece, uint8_t* rows)>;

// True when every piece was answered and decoded exactly. Every row of the frame is written.
// Returns only once nothing it started still runs or touches the caller's rows or functions.
bool RunPieces(const std::vector<Piece>& pieces, const PipelineOptions& options, const AskPiece& ask,
               const DecodePiece& decode, PipelineStats* stats = nullptr);

}  // namespace wkechr
