#include "capture_plan.h"

#include <algorithm>
#include <cstdint>

namespace wkechr {

PlanShape PlanShapeFor(int width) {
    // Every capture costs the browser a fixed time on top of its pixels, so pieces are large;
    // one capture of a very tall page is not reliable, so they stay far below that, and a
    // 32-bit process keeps them smaller for its address space. The last piece is small: its
    // decode is the only one nothing overlaps.
    const int64_t targetPixels = sizeof(void*) >= 8 ? 32'000'000 : 12'000'000;
    const int64_t rows = std::clamp<int64_t>(targetPixels / std::max(1, width), 64, 40000);
    return {static_cast<int>(rows), static_cast<int>(std::max<int64_t>(64, rows / 16))};
}

std::vector<Piece> PlanPieces(int height, PlanShape shape) {
    std::vector<Piece> pieces;
    if (height <= 0) return pieces;
    const int most = std::max(1, shape.pieceRows);
    const int last = shape.lastRows > 0 ? std::min(shape.lastRows, most) : most;
    // A short frame is one piece: a separate last piece saves less decoding than its request costs.
    if (height <= std::max(last, most / 2) || (last == most && height <= most)) {
        pieces.push_back({0, height});
        return pieces;
    }
    int tail = std::min(last, height);
    if (tail == most) tail = (height - 1) % most + 1;  // no separate tail: plain pieces
    const int body = height - tail;
    const int count = (body + most - 1) / most;
    for (int i = 0, top = 0; i < count; ++i) {
        // Even split: the first `body % count` pieces take one row more.
        const int rows = body / count + (i < body % count ? 1 : 0);
        pieces.push_back({top, rows});
        top += rows;
    }
    pieces.push_back({body, tail});
    return pieces;
}

CssRect PieceClip(const Piece& piece, int width, double zoom, double scrollX, double scrollY) {
    if (!(zoom > 0)) zoom = 1.0;
    return {scrollX, scrollY + piece.top / zoom, width / zoom, piece.rows / zoom};
}

}  // namespace wkechr
