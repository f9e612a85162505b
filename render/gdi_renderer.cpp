#include "render/gdi_renderer.h"

namespace {

bool IsGroupBox(HWND control) {
    wchar_t windowClass[16];
    if (!GetClassNameW(control, windowClass, 16) || lstrcmpiW(windowClass, L"Button") != 0)
        return false;
    return (GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

struct Exclusion {
    HWND window;
    HDC dc;
};

// A group box draws only an etched edge and its caption line; what lies inside belongs to the
// window beneath it.
void ExcludeGroupBoxFrame(HWND box, HDC dc, const RECT& outer) {
    TEXTMETRICW metrics{};
    auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(box, WM_GETFONT, 0, 0));
    {
        ScopedSelectObj useFont(dc, font ? font : GetStockObject(SYSTEM_FONT));
        GetTextMetricsW(dc, &metrics);
    }
    RECT inner{outer.left + 2, outer.top + metrics.tmHeight, outer.right - 2, outer.bottom - 2};
    if (inner.left >= inner.right || inner.top >= inner.bottom) {
        ExcludeClipRect(dc, outer.left, outer.top, outer.right, outer.bottom);
        return;
    }
    ExcludeClipRect(dc, outer.left, outer.top, outer.right, inner.top);
    ExcludeClipRect(dc, outer.left, inner.bottom, outer.right, outer.bottom);
    ExcludeClipRect(dc, outer.left, inner.top, inner.left, inner.bottom);
    ExcludeClipRect(dc, inner.right, inner.top, outer.right, inner.bottom);
}

BOOL CALLBACK ExcludeControl(HWND control, LPARAM context) {
    const auto& exclusion = *reinterpret_cast<const Exclusion*>(context);
    if (!IsWindowVisible(control)) return TRUE;
    RECT r;
    if (!GetWindowRect(control, &r)) return TRUE;
    MapWindowPoints(HWND_DESKTOP, exclusion.window, reinterpret_cast<POINT*>(&r), 2);
    if (IsGroupBox(control))
        ExcludeGroupBoxFrame(control, exclusion.dc, r);
    else
        ExcludeClipRect(exclusion.dc, r.left, r.top, r.right, r.bottom);
    return TRUE;
}

// The page is drawn only where no control lies, so the controls stay readable between their own
// repaints. Every descendant counts: controls inside a group box are its children.
void ExcludeControls(HWND window, HDC dc) {
    Exclusion exclusion{window, dc};
    EnumChildWindows(window, ExcludeControl, reinterpret_cast<LPARAM>(&exclusion));
}

}  // namespace

GdiRenderer::GdiRenderer(const GdiRenderer& other)
    : ViewRenderer(other), hwnd(other.hwnd), width(other.width), height(other.height) {}

void GdiRenderer::Finalize() {}
ViewRenderer* GdiRenderer::Clone() const { return new GdiRenderer(*this); }

bool GdiRenderer::Init(HWND window) {
    hwnd = window;
    memDc.Reset(CreateCompatibleDC(nullptr));
    originalBitmap_ = nullptr;
    if (!memDc) return false;
    RECT rc{};
    GetClientRect(hwnd, &rc);
    Resize(rc.right, rc.bottom);
    return true;
}

void GdiRenderer::Release() {
    if (dib) {
        if (memDc && originalBitmap_) SelectObject(memDc, originalBitmap_);
        dib.Reset();
    }
    memDc.Reset();
    originalBitmap_ = nullptr;
    pixels = nullptr;
}

void GdiRenderer::Resize(int w, int h) {
    if (w == width && h == height) return;
    width = w;
    height = h;
    pixels = nullptr;
}

void GdiRenderer::Render(wkeWebView view) {
    if (!(wkeIsDirty(view) & 0xFF)) return;
    if (!pixels) CreateSurface();
    if (!pixels) return;
    wkePaint(view, pixels, 0);
    // Without DCX_CLIPCHILDREN: the group box's interior is drawn on; the controls are excluded.
    ScopedGetDCEx dc(hwnd, DCX_CACHE | DCX_CLIPSIBLINGS);
    ExcludeControls(hwnd, dc);
    BitBlt(dc, 0, 0, width, height, memDc, 0, 0, SRCCOPY);
}

void GdiRenderer::CreateSurface() {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info{};
    static_assert(sizeof info == 1064);
    info.header.biSize = sizeof info.header;
    info.header.biWidth = width;
    info.header.biHeight = -height;
    info.header.biPlanes = 1;
    info.header.biBitCount = 32;
    info.header.biCompression = BI_RGB;
    info.header.biSizeImage = static_cast<DWORD>((((width * 32 + 31) >> 5) << 2) * height);

    void* bits = nullptr;
    ScopedGdiObj<HBITMAP> made(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info),
                                                DIB_RGB_COLORS, &bits, nullptr, 0));
    pixels = made ? bits : nullptr;
    if (!made) return;
    HGDIOBJ previous = SelectObject(memDc, made);
    if (!dib) originalBitmap_ = previous;
    dib = std::move(made);  // the old section goes only now that the new one is selected
}
