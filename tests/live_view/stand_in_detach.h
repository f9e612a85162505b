/* Each stand-in notes in the file named by QUORLANE_STAND_IN_DETACH_LOG when it is loaded and how
   it is unloaded: freed by FreeLibrary, or at the end of the process. */
#pragma once

#include <windows.h>

static void NoteDetach(const char* library, DWORD reason, LPVOID reserved) {
    wchar_t path[MAX_PATH];
    if (!GetEnvironmentVariableW(L"QUORLANE_STAND_IN_DETACH_LOG", path, MAX_PATH)) return;
    const char* what = reason == DLL_PROCESS_ATTACH ? " loaded\n" : reserved ? " at process end\n" : " freed\n";
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, library, (DWORD)lstrlenA(library), &written, NULL);
    WriteFile(file, what, (DWORD)lstrlenA(what), &written, NULL);
    CloseHandle(file);
}

#define STAND_IN_DLL_MAIN(library)                                                   \
    BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {         \
        (void)instance;                                                              \
        if (reason == DLL_PROCESS_ATTACH || reason == DLL_PROCESS_DETACH)            \
            NoteDetach(library, reason, reserved);                                   \
        return TRUE;                                                                 \
    }
