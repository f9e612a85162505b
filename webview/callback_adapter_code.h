// The machine code of an x86 callback adapter: called with the caller-cleans convention (cdecl),
// it calls a 32-bit target with the same N 32-bit arguments in the same order using the
// callee-cleans convention (stdcall) and returns the target's result in eax.
#pragma once

#include <cstddef>
#include <cstdint>

// 6N + 12 bytes.
constexpr std::size_t CallbackAdapterSize(std::size_t argumentCount) { return 6 * argumentCount + 12; }

// Writes the CallbackAdapterSize(argumentCount) bytes of the adapter for target to out.
void WriteCallbackAdapter(std::uint8_t* out, std::uint32_t target, std::size_t argumentCount);
