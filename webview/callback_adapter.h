// Bridges the engine's notification calling convention to our own routines.
#pragma once

// On i686 a block of execute-read machine code that calls target (stdcall, argumentCount 32-bit
// arguments) for a cdecl caller, or null when no memory could be had. On x86_64 the platform has
// one calling convention and target itself is the entry.
void* BuildCallbackAdapter(void* target, int argumentCount);
// Frees what BuildCallbackAdapter made (nothing on x86_64).
void FreeCallbackAdapter(void* adapter);
