#include "render/gdi_renderer.h"

void GdiRenderer::Finalize() {}
ViewRenderer* GdiRenderer::Clone() const { return new GdiRenderer(*this); }

bool GdiRenderer::Init(HWND window) {
    hwnd = window;
    return false;
}

void GdiRenderer::Release() {}
void GdiRenderer::Resize(int w, int h) {
    width = w;
    height = h;
}
void GdiRenderer::Render(wkeWebView) {}
void GdiRenderer::CreateSurface() {}
