// Renderer kind 2: the engine paints into a dynamic Direct3D 9 texture drawn as one screen quad.
#pragma once

#include <memory>

#include "base/scoped_win.h"
#include "render/view_renderer.h"

struct IDirect3D9;
struct IDirect3DDevice9;
struct IDirect3DTexture9;
struct _D3DPRESENT_PARAMETERS_;

struct QuadVertex {
    float x, y, z, rhw, u, v;
};
static_assert(sizeof(QuadVertex) == 24);

class D3d9Renderer : public ViewRenderer {
public:
    D3d9Renderer();
    // A clone has its own copy of the quad and holds no interface of its original.
    D3d9Renderer(const D3d9Renderer& other);
    D3d9Renderer& operator=(const D3d9Renderer&) = delete;
    ~D3d9Renderer() override;

    void Finalize() override;
    ViewRenderer* Clone() const override;
    bool Init(HWND window) override;
    void Release() override;
    void Resize(int width, int height) override;
    void Render(wkeWebView view) override;
    virtual void MakePresentParameters(HWND window, _D3DPRESENT_PARAMETERS_* pp);
    virtual bool CheckDevice();
    virtual bool UpdateTexture(wkeWebView view);
    void DropTexture();

    HWND hwnd = nullptr;
    ScopedComPtr<IDirect3D9> d3d;
    ScopedComPtr<IDirect3DDevice9> device;
    ScopedComPtr<IDirect3DTexture9> texture;
    std::unique_ptr<QuadVertex[]> vertices;  // four
};
