// The engine's title and address notifications, from the client-handler record to the owner.
#pragma once

#include <windows.h>

#include "engine/wke.h"

// Callee-cleans (stdcall) on i686, reached through a callback adapter; the record is the one
// installed with wkeSetClientHandler, its owner the WebViewHost that installed it.
void WINAPI TitleChangedEntry(void* record, wkeString title);
void WINAPI UrlChangedEntry(void* record, wkeString url);
