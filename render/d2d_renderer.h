// Renderer kind 1: prepares Direct2D drawing on the window, then always gives way to GDI.
#pragma once

#include <cstdint>

#include "render/view_renderer.h"

struct ID2D1Factory;
struct IWICImagingFactory;
struct IWICBitmapLock;
struct ID2D1HwndRenderTarget;
struct ID2D1Bitmap;

class D2dRenderer : public ViewRenderer {
public:
    void Finalize() override;
    ViewRenderer* Clone() const override;
    bool Init(HWND window) override;
    void Release() override;
    void Resize(int width, int height) override;
    void Render(wkeWebView view) override;
    virtual void CreateSurface();

    HWND hwnd = nullptr;
    ID2D1Factory* factory = nullptr;
    IWICImagingFactory* wicFactory = nullptr;
    IWICBitmapLock* bitmapLock = nullptr;
    ID2D1HwndRenderTarget* renderTarget = nullptr;
    ID2D1Bitmap* bitmap = nullptr;
    void* pixels = nullptr;
    std::uint32_t bufferSize = 0;
    int width = 0;
    int height = 0;
};
