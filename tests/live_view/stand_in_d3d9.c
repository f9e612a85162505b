/* A stand-in d3d9.dll: a Direct3D object whose CreateDevice answers what the test set; counted. */
#define CINTERFACE
#define COBJMACROS
#include <windows.h>
#include <d3d9.h>

#include "stand_in.h"

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

static HRESULT WINAPI CreateDevice(IDirect3D9* self, UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behaviour,
                                   D3DPRESENT_PARAMETERS* pp, IDirect3DDevice9** out) {
    (void)self;
    (void)focus;
    int call = state.createDeviceCalls++;
    if (call < 2) {
        state.adapters[call] = adapter;
        state.deviceTypes[call] = (int)type;
        state.behaviours[call] = behaviour;
        state.deviceWindows[call] = pp ? pp->hDeviceWindow : NULL;
    }
    *out = NULL;
    return state.results[call < 2 ? call : 1];
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
