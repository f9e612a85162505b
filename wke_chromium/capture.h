// Painting a view: the frame is taken in horizontal pieces as PNG, one request at a time, each
// asked for the moment the previous one is answered, and decoded straight into the caller's rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bgra_rows.h"
#include "capture_plan.h"
#include "session.h"

namespace wkechr {

struct CaptureRequest {
    int width = 0;   // frame size in device pixels
    int height = 0;
    double zoom = 1.0;  // device pixels per CSS pixel
    double scrollX = 0;  // visual viewport origin in CSS pixels
    double scrollY = 0;
    uint8_t* dest = nullptr;
    size_t pitch = 0;
    PlanShape shape;   // pieceRows 0: PlanShapeFor(width)
    int inFlight = 0;  // requests awaiting an answer at once; 0: one (see CaptureFrame)
    Deadline deadline = Deadline::In(60000);  // for the whole frame, every piece included
};

// False when a piece failed or the deadline passed first (rows not captured are white then).
// Every row of the frame is written.
bool CaptureFrame(Session& session, const std::string& sessionId, const CaptureRequest& request);

}  // namespace wkechr
