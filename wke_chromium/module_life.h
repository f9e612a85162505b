// What the engine's module knows about its own life: whether the process is ending (then nothing
// may wait or start processes: other threads are gone and the loader lock is held), and keeping
// the module mapped once it runs threads and a browser, so that an unload without wkeShutdown
// never pulls code from under them.
#pragma once

namespace wkechr {

// Called from the library's entry point when the process is ending.
void NoteProcessEnding();
bool ProcessEnding();

// Keeps the module holding this code loaded until the process ends (idempotent).
void KeepModuleLoaded();

}  // namespace wkechr
