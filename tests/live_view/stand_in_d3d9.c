/* A stand-in d3d9.dll: a Direct3D object whose CreateDevice answers what the test set; counted. */
#define CINTERFACE
#define COBJMACROS
#include <windows.h>
#include <d3d9.h>

#include <stdarg.h>
#include <stdio.h>

#include "stand_in.h"
#include "stand_in_detach.h"

static D3d9StandIn state;

static HRESULT WINAPI NotImplemented(void) { return E_NOTIMPL; }

typedef struct Object {
    const IDirect3D9Vtbl* vtbl;
    LONG refs;
} Object;

static HRESULT WINAPI QueryInterface(IDirect3D9* self, REFIID iid, void** out) {
    (void)iid;
    *out = self;
    ((Object*)self)->refs++;
    return S_OK;
}
static ULONG WINAPI AddRef(IDirect3D9* self) { return (ULONG)InterlockedIncrement(&((Object*)self)->refs); }
static ULONG WINAPI Release(IDirect3D9* self) {
    Object* o = (Object*)self;
    LONG left = InterlockedDecrement(&o->refs);
    if (left == 0) {
        InterlockedDecrement(&state.d3dAlive);
        HeapFree(GetProcessHeap(), 0, o);
    }
    return (ULONG)left;
}

static void Record(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int room = (int)sizeof state.log - state.logLength;
    if (room > 1) {
        int n = vsnprintf(state.log + state.logLength, (size_t)room, format, args);
        if (n > 0) state.logLength += n < room ? n : room - 1;
    }
    va_end(args);
}

/* ---- the recording texture ---- */

typedef struct Texture {
    const IDirect3DTexture9Vtbl* vtbl;
    LONG refs;
} Texture;

static IDirect3DTexture9Vtbl textureVtbl;

static HRESULT WINAPI TextureQueryInterface(IDirect3DTexture9* self, REFIID iid, void** out) {
    (void)iid;
    *out = self;
    InterlockedIncrement(&((Texture*)self)->refs);
    return S_OK;
}
static ULONG WINAPI TextureAddRef(IDirect3DTexture9* self) {
    return (ULONG)InterlockedIncrement(&((Texture*)self)->refs);
}
static ULONG WINAPI TextureRelease(IDirect3DTexture9* self) {
    LONG left = InterlockedDecrement(&((Texture*)self)->refs);
    if (left == 0) {
        InterlockedDecrement(&state.texturesAlive);
        HeapFree(GetProcessHeap(), 0, self);
    }
    return (ULONG)left;
}
static HRESULT WINAPI TextureLockRect(IDirect3DTexture9* self, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                                      DWORD flags) {
    (void)self;
    Record("LockRect %u %s %lu\n", level, rect ? "rect" : "whole", (unsigned long)flags);
    locked->pBits = state.lockedBits;
    locked->Pitch = 16;
    return D3D_OK;
}
static HRESULT WINAPI TextureUnlockRect(IDirect3DTexture9* self, UINT level) {
    (void)self;
    Record("UnlockRect %u\n", level);
    return D3D_OK;
}

/* ---- the recording device ---- */

typedef struct Device {
    const IDirect3DDevice9Vtbl* vtbl;
    LONG refs;
    IDirect3DTexture9* bound; /* stage 0, referenced */
    int mustReset;
} Device;

static IDirect3DDevice9Vtbl deviceVtbl;

static void Bind(Device* d, IDirect3DTexture9* texture) {
    if (texture) TextureAddRef(texture);
    if (d->bound) TextureRelease(d->bound);
    d->bound = texture;
}

static HRESULT WINAPI DeviceQueryInterface(IDirect3DDevice9* self, REFIID iid, void** out) {
    (void)iid;
    *out = self;
    InterlockedIncrement(&((Device*)self)->refs);
    return S_OK;
}
static ULONG WINAPI DeviceAddRef(IDirect3DDevice9* self) { return (ULONG)InterlockedIncrement(&((Device*)self)->refs); }
static ULONG WINAPI DeviceRelease(IDirect3DDevice9* self) {
    Device* d = (Device*)self;
    LONG left = InterlockedDecrement(&d->refs);
    if (left == 0) {
        Bind(d, NULL);
        InterlockedDecrement(&state.devicesAlive);
        HeapFree(GetProcessHeap(), 0, d);
    }
    return (ULONG)left;
}
static HRESULT WINAPI TestCooperativeLevel(IDirect3DDevice9* self) {
    Device* d = (Device*)self;
    int call = state.cooperativeCalls++;
    HRESULT hr = call < state.cooperativeCount && call < 8 ? state.cooperative[call]
                 : d->mustReset                            ? D3DERR_DEVICENOTRESET
                                                           : D3D_OK;
    Record("TestCooperativeLevel = %s\n", hr == D3DERR_DEVICELOST ? "lost" : hr == D3DERR_DEVICENOTRESET ? "not reset" : "ok");
    return hr;
}
static void WriteBackBufferSize(D3DPRESENT_PARAMETERS* pp) {
    if (pp->BackBufferWidth == 0) pp->BackBufferWidth = state.backBufferWidth;
    if (pp->BackBufferHeight == 0) pp->BackBufferHeight = state.backBufferHeight;
}
static HRESULT WINAPI Reset(IDirect3DDevice9* self, D3DPRESENT_PARAMETERS* pp) {
    Device* d = (Device*)self;
    state.resets++;
    state.resetParameters = *pp;
    /* A real device refuses while any default-pool resource is alive, a bound texture included. */
    if (state.texturesAlive > 0) {
        state.refusedResets++;
        d->mustReset = 1;
        Record("Reset = refused\n");
        return D3DERR_INVALIDCALL;
    }
    d->mustReset = 0;
    WriteBackBufferSize(pp);
    Record("Reset = ok\n");
    return D3D_OK;
}
static HRESULT WINAPI Present(IDirect3DDevice9* self, const RECT* a, const RECT* b, HWND w, const RGNDATA* r) {
    (void)self;
    state.presents++;
    Record("Present %s\n", a || b || w || r ? "with arguments" : "null null null null");
    return D3D_OK;
}
static HRESULT WINAPI CreateTexture(IDirect3DDevice9* self, UINT width, UINT height, UINT levels, DWORD usage,
                                    D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** out, HANDLE* shared) {
    Device* d = (Device*)self;
    Record("CreateTexture %ux%u %u %lu %d %d %s\n", width, height, levels, (unsigned long)usage, (int)format, (int)pool,
           shared ? "shared" : "null");
    *out = NULL;
    if (d->mustReset) return D3DERR_DEVICELOST;
    Texture* t = (Texture*)HeapAlloc(GetProcessHeap(), 0, sizeof *t);
    t->vtbl = &textureVtbl;
    t->refs = 1;
    InterlockedIncrement(&state.texturesMade);
    InterlockedIncrement(&state.texturesAlive);
    state.textureWidth = width;
    state.textureHeight = height;
    *out = (IDirect3DTexture9*)t;
    return D3D_OK;
}
static HRESULT WINAPI BeginScene(IDirect3DDevice9* self) {
    (void)self;
    Record("BeginScene\n");
    return D3D_OK;
}
static HRESULT WINAPI EndScene(IDirect3DDevice9* self) {
    (void)self;
    Record("EndScene\n");
    return D3D_OK;
}
static HRESULT WINAPI Clear(IDirect3DDevice9* self, DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour,
                            float z, DWORD stencil) {
    (void)self;
    Record("Clear %lu %s %lu %08lx %g %lu\n", (unsigned long)count, rects ? "rects" : "null", (unsigned long)flags,
           (unsigned long)colour, (double)z, (unsigned long)stencil);
    return D3D_OK;
}
static HRESULT WINAPI SetRenderState(IDirect3DDevice9* self, D3DRENDERSTATETYPE which, DWORD value) {
    (void)self;
    Record("SetRenderState %d %lu\n", (int)which, (unsigned long)value);
    return D3D_OK;
}
static HRESULT WINAPI SetTexture(IDirect3DDevice9* self, DWORD stage, IDirect3DBaseTexture9* texture) {
    Device* d = (Device*)self;
    Record("SetTexture %lu %s\n", (unsigned long)stage, texture ? "texture" : "null");
    if (stage == 0) Bind(d, (IDirect3DTexture9*)texture);
    return D3D_OK;
}
static HRESULT WINAPI DrawPrimitiveUP(IDirect3DDevice9* self, D3DPRIMITIVETYPE type, UINT count, const void* data,
                                      UINT stride) {
    (void)self;
    const float* v = (const float*)data;
    Record("DrawPrimitiveUP %d %u %u %g,%g %g,%g\n", (int)type, count, stride, (double)v[0], (double)v[1],
           (double)v[18], (double)v[19]);
    return D3D_OK;
}
static HRESULT WINAPI SetFVF(IDirect3DDevice9* self, DWORD fvf) {
    (void)self;
    Record("SetFVF %lu\n", (unsigned long)fvf);
    return D3D_OK;
}

static void PrepareDevice(void) {
    static int prepared;
    if (prepared) return;
    void** slots = (void**)&deviceVtbl;
    for (size_t i = 0; i < sizeof deviceVtbl / sizeof(void*); ++i) slots[i] = (void*)NotImplemented;
    deviceVtbl.QueryInterface = DeviceQueryInterface;
    deviceVtbl.AddRef = DeviceAddRef;
    deviceVtbl.Release = DeviceRelease;
    deviceVtbl.TestCooperativeLevel = TestCooperativeLevel;
    deviceVtbl.Reset = Reset;
    deviceVtbl.Present = Present;
    deviceVtbl.CreateTexture = CreateTexture;
    deviceVtbl.BeginScene = BeginScene;
    deviceVtbl.EndScene = EndScene;
    deviceVtbl.Clear = Clear;
    deviceVtbl.SetRenderState = SetRenderState;
    deviceVtbl.SetTexture = SetTexture;
    deviceVtbl.DrawPrimitiveUP = DrawPrimitiveUP;
    deviceVtbl.SetFVF = SetFVF;
    slots = (void**)&textureVtbl;
    for (size_t i = 0; i < sizeof textureVtbl / sizeof(void*); ++i) slots[i] = (void*)NotImplemented;
    textureVtbl.QueryInterface = TextureQueryInterface;
    textureVtbl.AddRef = TextureAddRef;
    textureVtbl.Release = TextureRelease;
    textureVtbl.LockRect = TextureLockRect;
    textureVtbl.UnlockRect = TextureUnlockRect;
    prepared = 1;
}

static HRESULT WINAPI CreateDevice(IDirect3D9* self, UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behaviour,
                                   D3DPRESENT_PARAMETERS* pp, IDirect3DDevice9** out) {
    (void)self;
    int call = state.createDeviceCalls++;
    if (call < 2) {
        state.adapters[call] = adapter;
        state.deviceTypes[call] = (int)type;
        state.behaviours[call] = behaviour;
        state.deviceWindows[call] = pp ? pp->hDeviceWindow : NULL;
        state.focusWindows[call] = focus;
    }
    if (pp) state.createParameters = *pp;
    *out = NULL;
    HRESULT hr = state.results[call < 2 ? call : 1];
    if (hr == D3D_OK && state.makeDevice) {
        PrepareDevice();
        Device* d = (Device*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *d);
        d->vtbl = &deviceVtbl;
        d->refs = 1;
        InterlockedIncrement(&state.devicesAlive);
        if (pp) WriteBackBufferSize(pp);
        *out = (IDirect3DDevice9*)d;
    }
    return hr;
}

static IDirect3D9Vtbl vtbl;

__declspec(dllexport) IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
    static int prepared;
    if (!prepared) {
        void** slots = (void**)&vtbl;
        for (size_t i = 0; i < sizeof vtbl / sizeof(void*); ++i) slots[i] = (void*)NotImplemented;
        vtbl.QueryInterface = QueryInterface;
        vtbl.AddRef = AddRef;
        vtbl.Release = Release;
        vtbl.CreateDevice = CreateDevice;
        prepared = 1;
    }
    state.sdkVersion = sdkVersion;
    Object* o = (Object*)HeapAlloc(GetProcessHeap(), 0, sizeof *o);
    o->vtbl = &vtbl;
    o->refs = 1;
    InterlockedIncrement(&state.d3dMade);
    InterlockedIncrement(&state.d3dAlive);
    return (IDirect3D9*)o;
}

__declspec(dllexport) D3d9StandIn* WINAPI StandInD3d9(void) { return &state; }

STAND_IN_DLL_MAIN("d3d9")
