// How a frame is cut for capture: horizontal pieces in order, and the page rectangle (CSS
// pixels) each one is asked for.
#pragma once

#include <vector>

namespace wkechr {

struct Piece {
    int top = 0;  // first row, in device pixels from the frame's top
    int rows = 0;
};

struct PlanShape {
    int pieceRows = 0;  // at most this many rows per piece
    int lastRows = 0;   // the final piece at most this tall (0: no limit), so that its decode is short
};

// The shape for a frame of `width` device pixels.
PlanShape PlanShapeFor(int width);

// Pieces covering [0, height) in order, none taller than `pieceRows`, the last one no taller
// than `lastRows` (unless the frame is at most half a piece: one piece then); the others evenly
// sized, so that no odd small piece costs a request of its own.
std::vector<Piece> PlanPieces(int height, PlanShape shape);

struct CssRect {
    double x = 0, y = 0, width = 0, height = 0;
};

// The page rectangle of a piece of a frame `width` device pixels wide, whose top left shows the
// page at (scrollX, scrollY) CSS pixels with `zoom` device pixels per CSS pixel.
CssRect PieceClip(const Piece& piece, int width, double zoom, double scrollX, double scrollY);

}  // namespace wkechr
