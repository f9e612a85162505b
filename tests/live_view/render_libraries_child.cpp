// Started by the fallback test: makes a Direct2D and a Direct3D 9 renderer on a window, lets them
// go, and ends the way the program does, so the stand-ins can tell whether their library was freed
// before the process ended.
#include <windows.h>
#include <ole2.h>

#include "base/scoped_win.h"
#include "render/d2d_renderer.h"
#include "render/d3d9_renderer.h"

int main() {
    ScopedOle ole;
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr, nullptr, nullptr);
    {
        D2dRenderer d2d;
        d2d.Init(window);
        d2d.Release();
        D3d9Renderer d3d9;
        d3d9.Init(window);
        d3d9.Release();
    }
    DestroyWindow(window);
    return 0;
}
