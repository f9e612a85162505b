// Renderer kind 0: a 32-bit top-down DIB section in a memory DC, copied to the window by BitBlt.
#pragma once

#include "base/scoped_win.h"
#include "render/view_renderer.h"

class GdiRenderer : public ViewRenderer {
public:
    void Finalize() override;
    ViewRenderer* Clone() const override;
    bool Init(HWND window) override;
    void Release() override;
    void Resize(int width, int height) override;
    void Render(wkeWebView view) override;
    virtual void CreateSurface();

    HWND hwnd = nullptr;
    HDC memDc = nullptr;
    HBITMAP dib = nullptr;
    void* pixels = nullptr;
    int width = 0;
    int height = 0;
};
