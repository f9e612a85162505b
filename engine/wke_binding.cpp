// The program's side of the engine interface: each entry is bound the first time it is called.
// wke.dll is looked for in the program's folder first, then by the ordinary library search. A
// missing library or entry ends the process with an error box and exit code -1.
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine/wke.h"

namespace {

constexpr const char* kLibraryName = "wke.dll";

std::wstring ProgramFolderW() {
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring folder(path, n);
    size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
}

HMODULE EngineLibrary() {
    static HMODULE library = [] {
        std::wstring own = ProgramFolderW() + L"\\wke.dll";
        HMODULE m = LoadLibraryW(own.c_str());
        return m ? m : LoadLibraryW(L"wke.dll");
    }();
    return library;
}

[[noreturn]] void MissingEntry(const char* entry) {
    char message[512];
    std::snprintf(message, sizeof message, "无法找到指定DLL库文件“%s”中的输出命令“%s”", kLibraryName,
                  entry);
    wchar_t wide[512];
    if (MultiByteToWideChar(936, 0, message, -1, wide, static_cast<int>(std::size(wide))) == 0)
        wide[0] = 0;
    wchar_t caption[16];
    if (MultiByteToWideChar(936, 0, "错误", -1, caption, static_cast<int>(std::size(caption))) == 0)
        caption[0] = 0;
    MessageBoxW(nullptr, wide, caption, MB_OK | MB_ICONERROR | MB_TASKMODAL);
    ExitProcess(static_cast<UINT>(-1));
}

FARPROC BindEntry(const char* entry) {
    HMODULE library = EngineLibrary();
    FARPROC proc = library ? GetProcAddress(library, entry) : nullptr;
    if (!proc) MissingEntry(entry);
    return proc;
}

}  // namespace

// Function-local statics are initialised once even when the render pump asks at the same time.
#define WKE_DEFINE_ENTRY(result, name, params, args)                        \
    extern "C" result WKE_CALL name params {                                \
        using Entry = result(WKE_CALL*) params;                             \
        static const Entry entry = reinterpret_cast<Entry>(                 \
            reinterpret_cast<void (*)()>(BindEntry(#name)));                \
        return entry args;                                                  \
    }
WKE_FOR_EACH_ENTRY(WKE_DEFINE_ENTRY)
#undef WKE_DEFINE_ENTRY
