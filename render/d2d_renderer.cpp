#include "render/d2d_renderer.h"

void D2dRenderer::Finalize() {}
ViewRenderer* D2dRenderer::Clone() const { return new D2dRenderer(*this); }

bool D2dRenderer::Init(HWND window) {
    hwnd = window;
    return false;
}

void D2dRenderer::Release() {}
void D2dRenderer::Resize(int w, int h) {
    width = w;
    height = h;
}
void D2dRenderer::Render(wkeWebView) {}
void D2dRenderer::CreateSurface() {}
