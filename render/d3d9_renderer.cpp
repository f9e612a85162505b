#include "render/d3d9_renderer.h"

#include <d3d9.h>

#include <algorithm>

namespace {

using Direct3DCreate9Entry = IDirect3D9*(WINAPI*)(UINT);

constexpr UINT kSdkVersion = 0x80000020;
constexpr DWORD kHardwareVertexProcessing =
    D3DCREATE_FPU_PRESERVE | D3DCREATE_PUREDEVICE | D3DCREATE_HARDWARE_VERTEXPROCESSING;
constexpr DWORD kSoftwareVertexProcessing =
    D3DCREATE_FPU_PRESERVE | D3DCREATE_PUREDEVICE | D3DCREATE_SOFTWARE_VERTEXPROCESSING;
constexpr D3DCOLOR kClearColour = D3DCOLOR_ARGB(255, 128, 128, 64);
static_assert(kClearColour == 0xFF808040);
static_assert(kHardwareVertexProcessing == 0x52 && kSoftwareVertexProcessing == 0x32);

// d3d9.dll is never unloaded once found; one reference keeps it, later loads give theirs back.
// The keeper is never destroyed, so no static destructor frees the library before exit is done.
HMODULE LoadDirect3D9() {
    static ScopedLibrary& kept = *new ScopedLibrary;
    ScopedLibrary library(LoadLibraryA("d3d9.dll"));
    if (!kept) kept = std::move(library);
    return kept;
}

}  // namespace

D3d9Renderer::D3d9Renderer() : vertices(new QuadVertex[4]{}) {}

D3d9Renderer::D3d9Renderer(const D3d9Renderer& other)
    : ViewRenderer(other), hwnd(other.hwnd), vertices(new QuadVertex[4]{}) {
    if (other.vertices) std::copy(other.vertices.get(), other.vertices.get() + 4, vertices.get());
}

D3d9Renderer::~D3d9Renderer() = default;

void D3d9Renderer::Finalize() { vertices.reset(); }

ViewRenderer* D3d9Renderer::Clone() const { return new D3d9Renderer(*this); }

void D3d9Renderer::MakePresentParameters(HWND window, D3DPRESENT_PARAMETERS* pp) {
    *pp = D3DPRESENT_PARAMETERS{};
    pp->BackBufferWidth = 0;
    pp->BackBufferHeight = 0;
    pp->BackBufferFormat = D3DFMT_X8R8G8B8;
    pp->BackBufferCount = 1;
    pp->MultiSampleType = D3DMULTISAMPLE_NONE;
    pp->MultiSampleQuality = 0;
    pp->SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp->hDeviceWindow = window;
    pp->Windowed = TRUE;
    pp->EnableAutoDepthStencil = TRUE;
    pp->AutoDepthStencilFormat = D3DFMT_D24X8;
    pp->Flags = 0;
    pp->FullScreen_RefreshRateInHz = 0;
    pp->PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
}

bool D3d9Renderer::Init(HWND window) {
    hwnd = window;
    HMODULE library = LoadDirect3D9();
    if (!library) return false;
    auto entry = reinterpret_cast<Direct3DCreate9Entry>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "Direct3DCreate9")));
    if (!entry) return false;
    *d3d.Receive() = entry(kSdkVersion);
    if (!d3d) return false;

    D3DPRESENT_PARAMETERS pp;
    MakePresentParameters(hwnd, &pp);
    HRESULT hr = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, GetParent(hwnd),
                                   kHardwareVertexProcessing, &pp, device.Receive());
    // A lost device at creation is a failure too: GDI then shows the view instead of nothing.
    if (hr == D3DERR_DEVICELOST) {
        device.Reset();
        return false;
    }
    if (hr != D3D_OK) {
        hr = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, GetParent(hwnd),
                               kSoftwareVertexProcessing, &pp, device.Receive());
        if (hr != D3D_OK) {
            device.Reset();
            return false;
        }
    }
    Resize(static_cast<int>(pp.BackBufferWidth), static_cast<int>(pp.BackBufferHeight));
    return true;
}

// A texture still bound to stage 0 keeps a reference in the device, and a device holding a
// default-pool texture cannot be reset: unbind it before letting it go.
void D3d9Renderer::DropTexture() {
    if (texture && device) device->SetTexture(0, nullptr);
    texture.Reset();
}

void D3d9Renderer::Release() {
    DropTexture();
    device.Reset();
    d3d.Reset();
}

void D3d9Renderer::Resize(int w, int h) {
    if (vertices) {
        const double right = w - 0.5, bottom = h - 0.5;
        vertices[0] = {-0.5f, -0.5f, 0.0f, 1.0f, 0.0f, 0.0f};
        vertices[1] = {static_cast<float>(right), -0.5f, 0.0f, 1.0f, 1.0f, 0.0f};
        vertices[2] = {-0.5f, static_cast<float>(bottom), 0.0f, 1.0f, 0.0f, 1.0f};
        vertices[3] = {static_cast<float>(right), static_cast<float>(bottom), 0.0f, 1.0f, 1.0f, 1.0f};
    }
    DropTexture();
    if (device) {
        D3DPRESENT_PARAMETERS pp;
        MakePresentParameters(hwnd, &pp);
        device->Reset(&pp);
    }
}

bool D3d9Renderer::CheckDevice() {
    if (!device) return false;
    HRESULT hr = device->TestCooperativeLevel();
    if (hr == D3DERR_DEVICELOST) {
        DropTexture();
        return false;
    }
    if (hr == D3DERR_DEVICENOTRESET) {
        DropTexture();
        D3DPRESENT_PARAMETERS pp;
        MakePresentParameters(hwnd, &pp);
        return device->Reset(&pp) == D3D_OK;
    }
    return true;
}

bool D3d9Renderer::UpdateTexture(wkeWebView view) {
    if (!device) return false;
    if (!texture) {
        RECT rc{};
        GetClientRect(hwnd, &rc);
        HRESULT hr = device->CreateTexture(static_cast<UINT>(rc.right - rc.left),
                                           static_cast<UINT>(rc.bottom - rc.top), 1,
                                           D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                           texture.Receive(), nullptr);
        if (hr != D3D_OK) {
            texture.Reset();
            return false;
        }
        // A new texture holds nothing yet: the whole view is painted into it at once.
        wkeSetDirty(view, 1);
    }
    if (!(wkeIsDirty(view) & 0xFF)) return true;
    if (!texture) return true;
    D3DLOCKED_RECT locked{};
    if (texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD) != D3D_OK) return true;
    wkePaint(view, locked.pBits, locked.Pitch);
    texture->UnlockRect(0);
    return true;
}

void D3d9Renderer::Render(wkeWebView view) {
    if (!device) return;
    if (!CheckDevice()) return;
    if (!UpdateTexture(view)) return;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kClearColour, 1.0f, 0);
    if (device->BeginScene() != D3D_OK) return;
    device->SetTexture(0, texture.Get());
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    QuadVertex quad[4];
    if (vertices) std::copy(vertices.get(), vertices.get() + 4, quad);
    else std::fill(quad, quad + 4, QuadVertex{});
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(QuadVertex));
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
}
