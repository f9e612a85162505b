// Ties a created engine view to its window (renderer, page events, subclassing, render pump) and
// unties it again.
#pragma once

#include <windows.h>

class WebViewHost;

void AttachDisplay(WebViewHost& host, int kind);
// Before the engine view is destroyed: the window gets its own procedure back and hwnd is cleared.
void DetachDisplayBeforeViewDestroyed(WebViewHost& host);
// After the engine view is gone: the renderer is released and the callback adapters freed.
void DetachDisplayAfterViewDestroyed(WebViewHost& host);

void SubclassViewWindow(HWND window, WebViewHost* host);
LRESULT CALLBACK ViewSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI RenderPumpThreadProc(LPVOID parameter);
