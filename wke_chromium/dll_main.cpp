// The library's entry point. At process exit it only takes note: the other threads are already
// gone, the loader lock is held, and the browser ends through its watcher (or its job object),
// so nothing here or after it may join threads or start processes. An unload by FreeLibrary cannot
// happen while the engine runs threads or a browser: starting them keeps the module loaded.
#include <windows.h>

#include "module_life.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) wkechr::NoteProcessEnding();
    return TRUE;
}
