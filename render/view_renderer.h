// The renderer interface: puts an engine view's pixels on the window it is bound to.
#pragma once

#include <windows.h>

#include "engine/wke.h"

// 0 GDI, 1 Direct2D, 2 Direct3D 9; every other value selects GDI.
using RendererKind = int;
enum : RendererKind { kRendererGdi = 0, kRendererD2d = 1, kRendererD3d9 = 2 };

// The base renderer: a real object whose every operation does nothing; Init answers false.
// Destroying a renderer frees its own memory only; platform resources are Release's job.
class ViewRenderer {
public:
    virtual void Finalize() {}
    virtual ViewRenderer* Clone() const { return new ViewRenderer(*this); }
    virtual bool Init(HWND /*window*/) { return false; }
    virtual void Release() {}
    virtual void Resize(int /*width*/, int /*height*/) {}
    virtual void Render(wkeWebView /*view*/) {}
    virtual ~ViewRenderer() = default;
};

// Always returns a new object in its initial state; makes no platform call.
ViewRenderer* CreateRenderer(RendererKind kind);

// Finalize, then free the storage.
void DestroyRenderer(ViewRenderer* renderer);
