// Bridges the engine's notification calling convention to our own routines.
#pragma once

// On i686 a block of machine code that calls target (stdcall, argumentCount 32-bit arguments)
// for a cdecl caller; elsewhere the platform has one convention and the target itself is used.
void* BuildCallbackAdapter(void* target, int argumentCount);
void FreeCallbackAdapter(void* adapter);
