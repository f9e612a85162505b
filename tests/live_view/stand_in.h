/* The stand-in D2d1.dll and d3d9.dll of the fallback test: each counts the objects it hands out and
   can be told to fail, so the renderers' use of them is seen from outside the renderers. */
#pragma once

#include <windows.h>

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
} D3d9StandIn;

typedef D2dStandIn*(WINAPI* StandInD2dEntry)(void);
typedef D3d9StandIn*(WINAPI* StandInD3d9Entry)(void);

#ifdef __cplusplus
}
#endif
