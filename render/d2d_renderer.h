// Renderer kind 1: prepares Direct2D drawing on the window, then always gives way to GDI.
#pragma once

#include <cstdint>

#include "base/scoped_win.h"
#include "render/view_renderer.h"

struct ID2D1Factory;
struct IWICImagingFactory;
struct IWICBitmapLock;
struct ID2D1HwndRenderTarget;
struct ID2D1Bitmap;

class D2dRenderer : public ViewRenderer {
public:
    D2dRenderer();
    // A clone holds no interface of its original: it starts without any.
    D2dRenderer(const D2dRenderer& other);
    D2dRenderer& operator=(const D2dRenderer&) = delete;
    ~D2dRenderer() override;

    void Finalize() override;
    ViewRenderer* Clone() const override;
    bool Init(HWND window) override;
    void Release() override;
    void Resize(int width, int height) override;
    void Render(wkeWebView view) override;
    virtual void CreateSurface();

    HWND hwnd = nullptr;
    ScopedComPtr<ID2D1Factory> factory;
    ScopedComPtr<IWICImagingFactory> wicFactory;
    ScopedComPtr<IWICBitmapLock> bitmapLock;
    ScopedComPtr<ID2D1HwndRenderTarget> renderTarget;
    ScopedComPtr<ID2D1Bitmap> bitmap;
    void* pixels = nullptr;
    std::uint32_t bufferSize = 0;
    int width = 0;
    int height = 0;
};

// 0 = made, 1 = D2d1.dll not loaded, 2 = no D2D1CreateFactory in it, else its failing HRESULT.
std::int32_t CreateD2dFactory(ScopedComPtr<ID2D1Factory>& factory);
HRESULT CreateWicFactory(ScopedComPtr<IWICImagingFactory>& wicFactory);
GUID GuidFromText(const char* text);
