// Whole-page capture: the view is laid out at the page's full size for one paint, straight into
// the result behind its BMP headers, then put back to its display size. A page the format or the
// memory cannot hold whole is captured from its top, as many whole rows as fit.
#include <atomic>
#include <limits>
#include <new>

#include "webview/bmp_layout.h"
#include "webview/capture_buffer.h"
#include "webview/capture_memory.h"
#include "webview/web_view_host.h"

namespace {

std::atomic<std::size_t> g_captureMemoryLimit{std::numeric_limits<std::size_t>::max()};

bool AllocateImage(ByteBuffer& out, std::size_t size) {
    if (size > g_captureMemoryLimit.load()) return false;
    try {
        out.assign(size, 0);
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    out = ByteBuffer();
    return false;
}

}  // namespace

void SetCaptureMemoryLimit(std::size_t bytes) { g_captureMemoryLimit = bytes; }

ByteBuffer WebViewHost::CapturePage() {
    wkeWebView v = view.load();
    if (!v) return ByteBuffer();

    wkeRunJS(v, "document.body.style.overflow='hidden'");
    int contentsWidth = wkeContentsWidth(v);
    int contentsHeight = wkeContentsHeight(v);
    int viewWidth = wkeWidth(v);
    int viewHeight = wkeHeight(v);

    CaptureBuffer buffer = AllocateCaptureBuffer(contentsWidth, contentsHeight, AllocateImage);
    if (!buffer.image.empty()) {
        // An empty pixel area needs no frame: an engine may not be able to make a view of no size.
        if (buffer.pixelBytes > 0) {
            wkeResize(v, buffer.width, buffer.rows);
            wkePaint(v, buffer.image.data() + kBmpHeadersSize, 0);
            wkeResize(v, viewWidth, viewHeight);
        }
        WriteBmpHeaders(buffer.image.data(), buffer.width, buffer.rows, buffer.pixelBytes);
    }
    wkeRunJS(v, "document.body.style.overflow='visible'");
    return std::move(buffer.image);
}
