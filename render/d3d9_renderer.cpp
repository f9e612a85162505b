#include "render/d3d9_renderer.h"

#include <algorithm>

D3d9Renderer::D3d9Renderer() : vertices(new QuadVertex[4]{}) {}

D3d9Renderer::D3d9Renderer(const D3d9Renderer& other)
    : ViewRenderer(other), hwnd(other.hwnd), d3d(other.d3d), device(other.device),
      texture(other.texture), vertices(new QuadVertex[4]) {
    std::copy(other.vertices, other.vertices + 4, vertices);
}

D3d9Renderer::~D3d9Renderer() { Finalize(); }

void D3d9Renderer::Finalize() {
    delete[] vertices;
    vertices = nullptr;
}

ViewRenderer* D3d9Renderer::Clone() const { return new D3d9Renderer(*this); }

bool D3d9Renderer::Init(HWND window) {
    hwnd = window;
    return false;
}

void D3d9Renderer::Release() {}
void D3d9Renderer::Resize(int, int) {}
void D3d9Renderer::Render(wkeWebView) {}
void D3d9Renderer::MakePresentParameters(HWND, _D3DPRESENT_PARAMETERS_*) {}
bool D3d9Renderer::CheckDevice() { return false; }
bool D3d9Renderer::UpdateTexture(wkeWebView) { return false; }
