/* The stand-in D2d1.dll and d3d9.dll of the fallback test: each counts the objects it hands out and
   can be told to fail, so the renderers' use of them is seen from outside the renderers. */
#pragma once

#include <windows.h>
#include <d3d9.h>

#ifdef __cplusplus
extern "C" {
#endif

/* modes of the Direct2D stand-in */
enum { kD2dWorks = 0, kD2dFactoryFails = 1, kD2dTargetFails = 2 };

typedef struct D2dStandIn {
    int mode;
    LONG factoriesMade, factoriesAlive;
    LONG targetsMade, targetsAlive;
    LONG resizes;
    int factoryType;        /* as asked for */
    int debugLevel;         /* from the options */
    int factoryIidMatched;  /* the IID was ID2D1Factory's */
    HWND targetWindow;
    UINT32 targetWidth, targetHeight;  /* at creation */
    UINT32 resizedWidth, resizedHeight;
    int targetPropertiesZero; /* the render target properties were all zero */
} D2dStandIn;

typedef struct D3d9StandIn {
    HRESULT results[2];  /* what the first and second CreateDevice answer */
    LONG d3dMade, d3dAlive;
    UINT sdkVersion;
    int createDeviceCalls;
    DWORD behaviours[2];
    UINT adapters[2];
    int deviceTypes[2];
    HWND deviceWindows[2];
    /* With makeDevice set, a successful CreateDevice hands out a device that records its calls,
       one line each ("Reset", "SetTexture 0 texture", ...) in log, and behaves like a real one
       where the renderer depends on it: SetTexture keeps a reference to the bound texture, and a
       Reset while a default-pool texture is alive fails and leaves the device to be reset. */
    int makeDevice;
    HWND focusWindows[2];
    D3DPRESENT_PARAMETERS createParameters;   /* as passed to CreateDevice */
    D3DPRESENT_PARAMETERS resetParameters;    /* as passed to the last Reset */
    UINT backBufferWidth, backBufferHeight;   /* written back for a 0 x 0 back buffer */
    HRESULT cooperative[8];                   /* what TestCooperativeLevel answers, in turn */
    int cooperativeCount, cooperativeCalls;   /* then D3D_OK, or DEVICENOTRESET after a failed Reset */
    int resets, refusedResets, presents;
    LONG devicesAlive, texturesMade, texturesAlive;
    UINT textureWidth, textureHeight;
    unsigned char lockedBits[64];             /* what LockRect hands out, pitch 16 */
    char log[8192];
    int logLength;
} D3d9StandIn;

typedef D2dStandIn*(WINAPI* StandInD2dEntry)(void);
typedef D3d9StandIn*(WINAPI* StandInD3d9Entry)(void);

#ifdef __cplusplus
}
#endif
