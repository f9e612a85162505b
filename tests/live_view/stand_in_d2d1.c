/* A stand-in D2d1.dll: a factory whose only working method makes window render targets, and
   render targets that can only be resized; every object is counted. */
#define CINTERFACE
#define COBJMACROS
#include <windows.h>
#include <d3d9.h>
#include <d2d1.h>
#include <string.h>

#include "stand_in.h"
#include "stand_in_detach.h"

static D2dStandIn state;

static const GUID kFactoryIid = {0x06152247, 0x6f50, 0x465a, {0x92, 0x45, 0x11, 0x8b, 0xfd, 0x3b, 0x60, 0x07}};

static HRESULT WINAPI NotImplemented(void) { return E_NOTIMPL; }

static void FillWithStubs(void* table, size_t size) {
    void** slots = (void**)table;
    for (size_t i = 0; i < size / sizeof(void*); ++i) slots[i] = (void*)NotImplemented;
}

typedef struct Object {
    const void* vtbl;
    LONG refs;
    LONG* alive;
} Object;

static HRESULT WINAPI QueryInterface(IUnknown* self, REFIID iid, void** out) {
    (void)iid;
    *out = self;
    ((Object*)self)->refs++;
    return S_OK;
}
static ULONG WINAPI AddRef(IUnknown* self) { return (ULONG)InterlockedIncrement(&((Object*)self)->refs); }
static ULONG WINAPI Release(IUnknown* self) {
    Object* o = (Object*)self;
    LONG left = InterlockedDecrement(&o->refs);
    if (left == 0) {
        InterlockedDecrement(o->alive);
        HeapFree(GetProcessHeap(), 0, o);
    }
    return (ULONG)left;
}

static Object* NewObject(const void* vtbl, LONG* made, LONG* alive) {
    Object* o = (Object*)HeapAlloc(GetProcessHeap(), 0, sizeof *o);
    o->vtbl = vtbl;
    o->refs = 1;
    o->alive = alive;
    InterlockedIncrement(made);
    InterlockedIncrement(alive);
    return o;
}

static ID2D1HwndRenderTargetVtbl targetVtbl;
static ID2D1FactoryVtbl factoryVtbl;

static HRESULT WINAPI TargetResize(ID2D1HwndRenderTarget* self, const D2D1_SIZE_U* size) {
    (void)self;
    state.resizes++;
    state.resizedWidth = size->width;
    state.resizedHeight = size->height;
    return S_OK;
}

static HRESULT WINAPI CreateHwndRenderTarget(ID2D1Factory* self, const D2D1_RENDER_TARGET_PROPERTIES* target,
                                             const D2D1_HWND_RENDER_TARGET_PROPERTIES* window,
                                             ID2D1HwndRenderTarget** out) {
    static const D2D1_RENDER_TARGET_PROPERTIES zero;
    (void)self;
    *out = NULL;
    state.targetPropertiesZero = memcmp(target, &zero, sizeof zero) == 0;
    state.targetWindow = window->hwnd;
    state.targetWidth = window->pixelSize.width;
    state.targetHeight = window->pixelSize.height;
    if (state.mode == kD2dTargetFails) return E_FAIL;
    *out = (ID2D1HwndRenderTarget*)NewObject(&targetVtbl, &state.targetsMade, &state.targetsAlive);
    return S_OK;
}

static void Prepare(void) {
    static int done;
    if (done) return;
    done = 1;
    FillWithStubs(&targetVtbl, sizeof targetVtbl);
    targetVtbl.Base.Base.Base.QueryInterface = (void*)QueryInterface;
    targetVtbl.Base.Base.Base.AddRef = (void*)AddRef;
    targetVtbl.Base.Base.Base.Release = (void*)Release;
    targetVtbl.Resize = TargetResize;
    FillWithStubs(&factoryVtbl, sizeof factoryVtbl);
    factoryVtbl.Base.QueryInterface = (void*)QueryInterface;
    factoryVtbl.Base.AddRef = (void*)AddRef;
    factoryVtbl.Base.Release = (void*)Release;
    factoryVtbl.CreateHwndRenderTarget = CreateHwndRenderTarget;
}

__declspec(dllexport) HRESULT WINAPI D2D1CreateFactory(D2D1_FACTORY_TYPE type, REFIID iid,
                                                       const D2D1_FACTORY_OPTIONS* options, void** out) {
    Prepare();
    *out = NULL;
    state.factoryType = (int)type;
    state.debugLevel = options ? (int)options->debugLevel : -1;
    state.factoryIidMatched = IsEqualGUID(iid, &kFactoryIid);
    if (state.mode == kD2dFactoryFails) return E_FAIL;
    *out = NewObject(&factoryVtbl, &state.factoriesMade, &state.factoriesAlive);
    return S_OK;
}

__declspec(dllexport) D2dStandIn* WINAPI StandInD2d(void) { return &state; }

STAND_IN_DLL_MAIN("D2d1")
