// Whole-page capture: the view is laid out at the page's full size for one paint, straight into
// the result behind its BMP headers, then put back to its display size.
#include <new>

#include "webview/bmp_layout.h"
#include "webview/web_view_host.h"

namespace {

ByteBuffer AllocateImage(std::size_t size) {
    try {
        return ByteBuffer(size);
    } catch (const std::bad_alloc&) {
        return ByteBuffer();
    } catch (const std::length_error&) {
        return ByteBuffer();
    }
}

}  // namespace

ByteBuffer WebViewHost::CapturePage() {
    wkeWebView v = view.load();
    if (!v) return ByteBuffer();

    wkeRunJS(v, "document.body.style.overflow='hidden'");
    int contentsWidth = wkeContentsWidth(v);
    int contentsHeight = wkeContentsHeight(v);
    int viewWidth = wkeWidth(v);
    int viewHeight = wkeHeight(v);

    // A page the file format cannot hold, or memory cannot take, leaves the view untouched.
    std::optional<std::int32_t> pixelBytes = BmpPixelAreaSize(contentsWidth, contentsHeight);
    ByteBuffer image;
    if (pixelBytes) image = AllocateImage(BmpFileSize(*pixelBytes));
    if (image.empty()) {
        wkeRunJS(v, "document.body.style.overflow='visible'");
        return ByteBuffer();
    }

    wkeResize(v, contentsWidth, contentsHeight);
    wkePaint(v, image.data() + kBmpHeadersSize, 0);
    WriteBmpHeaders(image.data(), contentsWidth, contentsHeight, *pixelBytes);
    wkeResize(v, viewWidth, viewHeight);
    wkeRunJS(v, "document.body.style.overflow='visible'");
    return image;
}
