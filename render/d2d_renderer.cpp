#include "render/d2d_renderer.h"

#include <d2d1.h>
#include <wincodec.h>

#include "webview/text_conversion.h"

namespace {

using D2D1CreateFactoryEntry = HRESULT(WINAPI*)(D2D1_FACTORY_TYPE, REFIID,
                                                const D2D1_FACTORY_OPTIONS*, void**);

constexpr char kFactoryIid[] = "{06152247-6f50-465a-9245-118bfd3b6007}";
constexpr char kWicFactoryClsid[] = "{CACAF262-9370-4615-A13B-9F5539DA4C0A}";
constexpr char kWicFactoryIid[] = "{ec5ec8a9-c395-4314-9c77-54d7a935ff70}";

// Once a factory has been made D2d1.dll stays loaded for the rest of the process; one reference
// is enough for that, so later loads give theirs back. The keeper is never destroyed: a static
// destructor would free the library at exit before the objects made from it are gone.
void KeepLoaded(ScopedLibrary library) {
    static ScopedLibrary& kept = *new ScopedLibrary;
    if (!kept) kept = std::move(library);
}

}  // namespace

GUID GuidFromText(const char* text) {
    GUID guid{};
    ByteBuffer wide = GbkToUtf16(text);
    CLSIDFromString(const_cast<LPOLESTR>(AsWide(wide)), &guid);
    return guid;
}

std::int32_t CreateD2dFactory(ScopedComPtr<ID2D1Factory>& factory) {
    ScopedLibrary library(LoadLibraryA("D2d1.dll"));
    if (!library) return 1;
    auto entry = reinterpret_cast<D2D1CreateFactoryEntry>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "D2D1CreateFactory")));
    if (!entry) return 2;
    GUID iid = GuidFromText(kFactoryIid);
    D2D1_FACTORY_OPTIONS options{D2D1_DEBUG_LEVEL_NONE};
    HRESULT hr = entry(D2D1_FACTORY_TYPE_SINGLE_THREADED, iid, &options,
                       reinterpret_cast<void**>(factory.Receive()));
    if (hr != S_OK) {
        factory.Reset();
        return static_cast<std::int32_t>(hr);
    }
    KeepLoaded(std::move(library));
    return 0;
}

HRESULT CreateWicFactory(ScopedComPtr<IWICImagingFactory>& wicFactory) {
    GUID clsid = GuidFromText(kWicFactoryClsid);
    GUID iid = GuidFromText(kWicFactoryIid);
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                  reinterpret_cast<void**>(wicFactory.Receive()));
    if (hr != S_OK) wicFactory.Reset();
    return hr;
}

D2dRenderer::D2dRenderer() = default;
D2dRenderer::D2dRenderer(const D2dRenderer& other)
    : ViewRenderer(other), hwnd(other.hwnd), width(other.width), height(other.height) {}
D2dRenderer::~D2dRenderer() = default;

void D2dRenderer::Finalize() {}
ViewRenderer* D2dRenderer::Clone() const { return new D2dRenderer(*this); }

// Prepares everything and still answers false: the view is drawn through GDI.
bool D2dRenderer::Init(HWND window) {
    hwnd = window;
    if (CreateD2dFactory(factory) != 0) return false;
    if (CreateWicFactory(wicFactory) != S_OK) {
        factory.Reset();
        return false;
    }
    RECT rc{};
    GetClientRect(hwnd, &rc);
    D2D1_RENDER_TARGET_PROPERTIES targetProperties{};
    D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties{
        hwnd, {static_cast<UINT32>(rc.right), static_cast<UINT32>(rc.bottom)},
        D2D1_PRESENT_OPTIONS_NONE};
    HRESULT hr = factory ? factory->CreateHwndRenderTarget(&targetProperties, &windowProperties,
                                                           renderTarget.Receive())
                         : E_POINTER;
    if (hr != S_OK) {
        renderTarget.Reset();
        factory.Reset();
        wicFactory.Reset();
        return false;
    }
    Resize(rc.right, rc.bottom);
    return false;
}

void D2dRenderer::Release() {
    bitmap.Reset();
    bitmapLock.Reset();
    renderTarget.Reset();
    factory.Reset();
    wicFactory.Reset();
}

void D2dRenderer::Resize(int w, int h) {
    if (w == width && h == height) return;
    width = w;
    height = h;
    pixels = nullptr;
    if (renderTarget) {
        D2D1_SIZE_U size{static_cast<UINT32>(width), static_cast<UINT32>(height)};
        renderTarget->Resize(&size);
    }
}

// Never reached: Init always answers false and the host replaces this renderer.
void D2dRenderer::Render(wkeWebView) {}
void D2dRenderer::CreateSurface() {}
