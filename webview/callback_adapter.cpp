#include "webview/callback_adapter.h"

#include <windows.h>

// Filled in with the page events; until then adapters are the targets themselves.
void* BuildCallbackAdapter(void* target, int) { return target; }
void FreeCallbackAdapter(void*) {}
