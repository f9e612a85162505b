// Renderer kind 0: a 32-bit top-down DIB section in a memory DC, copied to the window by BitBlt.
#pragma once

#include "base/scoped_win.h"
#include "render/view_renderer.h"

class GdiRenderer : public ViewRenderer {
public:
    GdiRenderer() = default;
    // A clone shares no GDI object with its original: it starts without a DC or surface.
    GdiRenderer(const GdiRenderer& other);
    GdiRenderer& operator=(const GdiRenderer&) = delete;

    void Finalize() override;
    ViewRenderer* Clone() const override;
    bool Init(HWND window) override;
    void Release() override;
    void Resize(int width, int height) override;
    void Render(wkeWebView view) override;
    virtual void CreateSurface();

    HWND hwnd = nullptr;
    ScopedMemDC memDc;
    ScopedGdiObj<HBITMAP> dib;
    void* pixels = nullptr;
    int width = 0;
    int height = 0;

private:
    // The bitmap memDc was made with, put back before our DIB section is deleted.
    HGDIOBJ originalBitmap_ = nullptr;
};
