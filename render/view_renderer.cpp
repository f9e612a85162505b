#include "render/view_renderer.h"

#include "render/d2d_renderer.h"
#include "render/d3d9_renderer.h"
#include "render/gdi_renderer.h"

ViewRenderer* CreateRenderer(RendererKind kind) {
    switch (kind) {
        case kRendererD2d: return new D2dRenderer();
        case kRendererD3d9: return new D3d9Renderer();
        default: return new GdiRenderer();
    }
}

void DestroyRenderer(ViewRenderer* renderer) {
    if (!renderer) return;
    renderer->Finalize();
    delete renderer;
}
