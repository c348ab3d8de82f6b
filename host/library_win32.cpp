// The Windows loader behind ModuleLibrary.
#include "ModuleLibrary.h"

#include <windows.h>

namespace sehost::platform {

void* OpenLibrary(const std::string& path, std::string& error) {
    // Without a path the loader would search the system folders and PATH, not the folder given.
    const bool bare = path.find_first_of("/\\") == std::string::npos;
    const std::string where = bare ? ".\\" + path : path;
    // No "cannot find the module" dialog box in place of an error code.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE handle = LoadLibraryA(where.c_str());
    const DWORD code = GetLastError();
    SetErrorMode(previous);
    if (handle == nullptr) {
        char text[512] = {0};
        const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, code, 0, text, sizeof text, nullptr);
        std::string message(text, n);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.')) {
            message.pop_back();
        }
        error = "error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
    }
    return reinterpret_cast<void*>(handle);
}

void* FindSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
    if (library != nullptr) {
        FreeLibrary(static_cast<HMODULE>(library));
    }
}

} // namespace sehost::platform
