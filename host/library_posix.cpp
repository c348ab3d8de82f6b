// The POSIX loader behind ModuleLibrary.
#include "ModuleLibrary.h"

#include <dlfcn.h>

namespace sehost::platform {

void* OpenLibrary(const std::string& path, std::string& error) {
    // A bare file name would send dlopen searching the library path instead of the folder.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = dlerror();
        error = text != nullptr ? text : "unknown loader error";
    }
    return handle;
}

void* FindSymbol(void* library, const char* name) {
    return dlsym(library, name);
}

void CloseLibrary(void* library) {
    if (library != nullptr) {
        dlclose(library);
    }
}

} // namespace sehost::platform
