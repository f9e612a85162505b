#include "capture.h"

#include "capture_pipeline.h"
#include "engine_limits.h"
#include "png_rows.h"
#include "text.h"

namespace wkechr {

bool CaptureFrame(Session& session, const std::string& sessionId, const CaptureRequest& request) {
    const int width = request.width, height = request.height;
    if (!request.dest || width <= 0 || height <= 0) return false;
    const PlanShape shape = request.shape.pieceRows > 0 ? request.shape : PlanShapeFor(width);
    const std::vector<Piece> pieces = PlanPieces(height, shape);

    PipelineOptions options;
    options.dest = request.dest;
    options.width = width;
    options.pitch = request.pitch;
    options.deadline = request.deadline;
    // The browser takes one clipped capture at a time: a clip is applied by moving the page's
    // viewport, so clips requested together come back with each other's rows.
    options.inFlight = request.inFlight > 0 ? request.inFlight : 1;
    options.graceMs = limits::kCaptureGraceMs;

    auto ask = [&](size_t index, Deadline deadline, std::function<void(PieceAnswer)> answer) {
        const CssRect clip = PieceClip(pieces[index], width, request.zoom, request.scrollX, request.scrollY);
        json params = {{"format", "png"},
                       {"clip", {{"x", clip.x}, {"y", clip.y}, {"width", clip.width}, {"height", clip.height}, {"scale", 1}}},
                       {"optimizeForSpeed", true},
                       {"captureBeyondViewport", false},
                       {"fromSurface", true}};
        session.Send("Page.captureScreenshot", std::move(params), sessionId,
                     deadline.Within(limits::kCapturePieceMs), [answer = std::move(answer)](Reply reply) {
                         PieceAnswer piece;
                         piece.status = reply.status;
                         auto data = reply.ok() ? reply.result.find("data") : reply.result.end();
                         if (reply.ok() && (data == reply.result.end() || !data->is_string()))
                             piece.status = Status::ProtocolError;
                         else if (reply.ok())
                             piece.payload = std::move(data->get_ref<std::string&>());
                         answer(std::move(piece));
                     });
    };
    auto decode = [&](std::string& base64, std::string& png, const Piece& piece, uint8_t* rows) {
        if (!Base64Decode(base64, png)) {
            FillWhite(rows, width, piece.rows, request.pitch);
            return false;
        }
        return DecodePngInto(reinterpret_cast<const uint8_t*>(png.data()), png.size(), rows, width, piece.rows,
                             request.pitch);
    };
    return RunPieces(pieces, options, ask, decode);
}

}  // namespace wkechr
