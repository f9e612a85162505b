// Painting a view: the frame is taken in horizontal pieces as PNG, each asked for as soon as
// the previous one is answered, decoded in parallel and written straight into the caller's rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "session.h"

namespace wkechr {

struct Piece {
    int top = 0;
    int rows = 0;
};

// Rows per piece for a frame width: pieces of a few megapixels keep the browser busy
// without one huge surface.
int PieceRowsFor(int width);
// Pieces covering [0, height) in order, each `pieceRows` tall except perhaps the last.
std::vector<Piece> PlanPieces(int height, int pieceRows);

// Writes up to `rows` rows of an RGBA image as B,G,R,A into rows of `width` pixels `pitch` bytes
// apart; what the image does not cover becomes opaque white. `dest` may have any alignment.
void BlitRgbaToBgra(const uint8_t* rgba, int imageWidth, int imageHeight, uint8_t* dest, int width, int rows,
                    size_t pitch);
void FillWhite(uint8_t* dest, int width, int rows, size_t pitch);

bool DecodePng(const std::string& png, std::vector<uint8_t>& rgba, int& width, int& height);

struct CaptureRequest {
    int width = 0;   // frame size in device pixels
    int height = 0;
    double zoom = 1.0;  // device pixels per CSS pixel
    double scrollX = 0;  // visual viewport origin in CSS pixels
    double scrollY = 0;
    uint8_t* dest = nullptr;
    size_t pitch = 0;
    int pieceRows = 0;  // 0: PieceRowsFor(width)
    int inFlight = 0;   // requests awaiting an answer at once; 0: one (see CaptureFrame)
    Deadline deadline = Deadline::In(60000);  // for the whole frame, every piece included
};

// False when a piece failed (its rows are white then). Every row of the frame is written.
bool CaptureFrame(Session& session, const std::string& sessionId, const CaptureRequest& request);

}  // namespace wkechr
