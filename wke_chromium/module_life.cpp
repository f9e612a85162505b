#include "module_life.h"

#include <windows.h>

#include <atomic>

namespace wkechr {

namespace {
std::atomic<bool> g_processEnding{false};
std::atomic<bool> g_kept{false};
}  // namespace

void NoteProcessEnding() { g_processEnding = true; }
bool ProcessEnding() { return g_processEnding; }

void KeepModuleLoaded() {
    if (g_kept.exchange(true)) return;
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&KeepModuleLoaded), &module);
}

}  // namespace wkechr
