#include "webview/callback_adapter.h"

#include <windows.h>

#include <cstdint>
#include <memory>

#include "webview/callback_adapter_code.h"

#if defined(__i386__) || defined(_M_IX86)

namespace {

struct VirtualFreeDeleter {
    void operator()(void* block) const { VirtualFree(block, 0, MEM_RELEASE); }
};
using ScopedVirtualBlock = std::unique_ptr<void, VirtualFreeDeleter>;

}  // namespace

// Written while writable, then made execute-read: memory both writable and executable would be
// an open door for injected code.
void* BuildCallbackAdapter(void* target, int argumentCount) {
    if (argumentCount < 0) return nullptr;
    const std::size_t size = CallbackAdapterSize(static_cast<std::size_t>(argumentCount));
    ScopedVirtualBlock block(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!block) return nullptr;
    WriteCallbackAdapter(static_cast<std::uint8_t*>(block.get()),
                         static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(target)),
                         static_cast<std::size_t>(argumentCount));
    DWORD previous = 0;
    if (!VirtualProtect(block.get(), size, PAGE_EXECUTE_READ, &previous)) return nullptr;
    FlushInstructionCache(GetCurrentProcess(), block.get(), size);
    return block.release();
}

void FreeCallbackAdapter(void* adapter) {
    if (adapter) VirtualFree(adapter, 0, MEM_RELEASE);
}

#else

void* BuildCallbackAdapter(void* target, int) { return target; }
void FreeCallbackAdapter(void*) {}

#endif
