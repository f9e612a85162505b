// Every time limit of the engine, in one place (milliseconds).
#pragma once

#include <cstdint>

namespace wkechr::limits {

// What an entry called on the program's UI thread may wait for the browser, at most.
inline constexpr int64_t kUiCallMs = 2000;
// The deadline such an entry gives its requests: the reader notices a passed deadline within a
// quarter second, and the entry has its own work besides.
inline constexpr int64_t kUiReplyMs = 1250;
// The first start of the browser: launch, endpoint, handshake and the first calls together.
inline constexpr int64_t kFirstStartMs = 20000;
// A restart after the browser was lost; shorter, and never retried before the back-off.
inline constexpr int64_t kRestartMs = 15000;
inline constexpr int64_t kRestartBackoffMs = 30000;
// A browser that already ran elsewhere (WKE_BROWSER_URL) and was lost: reached again this often
// at most, this far apart; never replaced by a local one.
inline constexpr int kRemoteAttempts = 5;
inline constexpr int64_t kRemoteRetryMs = 2000;
// Making a view's page again (after a restart or a crash), on the browser host's thread.
inline constexpr int64_t kReopenPageMs = 15000;
// A whole-page paint: a fixed part plus a part that grows with the frame's area. Rows not captured
// in time are stored white, so this guards against a hang only: an unloaded machine needs about
// 25 ms a megapixel, a heavily loaded one ten times that.
inline constexpr int64_t kPaintBaseMs = 10000;
inline constexpr int64_t kPaintPerMegapixelMs = 2000;
// One piece of a paint's capture, within the paint's budget; and how long after that budget an
// answer already asked for is still awaited when the connection does not report it.
inline constexpr int64_t kCapturePieceMs = 120000;  // pieces are up to 32 megapixels
inline constexpr int64_t kCaptureGraceMs = 1500;
// A load still going after this counts as complete; a failed navigation's error page gets the grace.
inline constexpr int64_t kLoadLimitMs = 45000;
inline constexpr int64_t kErrorPageGraceMs = 3000;
// Requests sent without waiting (navigation, input, acknowledgements).
inline constexpr int64_t kAsyncRequestMs = 30000;
// Closing: the browser asked to close, then ended.
inline constexpr int64_t kCloseBrowserMs = 600;
// Ending the browser's process group: TERM, this long to end by itself, then KILL.
inline constexpr int64_t kTermGraceMs = 250;
// Ending it, TERM to gone, at most (beyond that it is left to the watcher or the job object).
inline constexpr int64_t kEndBrowserMs = 1000;

// The paint budget for a frame of width × height device pixels.
inline int64_t PaintBudgetMs(int width, int height) {
    const double megapixels = static_cast<double>(width > 0 ? width : 0) * (height > 0 ? height : 0) / 1e6;
    return kPaintBaseMs + static_cast<int64_t>(megapixels * kPaintPerMegapixelMs);
}

}  // namespace wkechr::limits
