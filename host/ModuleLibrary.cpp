#include "ModuleLibrary.h"

#include "HostError.h"

#include <sys/stat.h>

namespace sehost {

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

std::unique_ptr<ModuleLibrary> ModuleLibrary::Load(const std::string& path) {
    if (path.empty()) {
        throw HostError("no module file given");
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        throw HostError("module file not found: " + path);
    }
    if (!IsRegularFile(path)) {
        throw HostError("module path is not a file: " + path);
    }
    std::string error;
    void* handle = platform::OpenLibrary(path, error);
    if (handle == nullptr) {
        throw HostError("cannot load module " + path + ": not a loadable library (" + error + ")");
    }
    auto get_properties = reinterpret_cast<GetModulePropertiesFn>(
        platform::FindSymbol(handle, "getModuleProperties"));
    auto make_module = reinterpret_cast<MakeModuleFn>(platform::FindSymbol(handle, "makeModule"));
    if (get_properties == nullptr || make_module == nullptr) {
        platform::CloseLibrary(handle);
        throw HostError(path + " is not a module: it does not export " +
                        (get_properties == nullptr ? "getModuleProperties" : "makeModule"));
    }
    return std::unique_ptr<ModuleLibrary>(
        new ModuleLibrary(path, handle, get_properties, make_module));
}

ModuleLibrary::ModuleLibrary(std::string path, void* handle, GetModulePropertiesFn get_properties,
                             MakeModuleFn make_module)
    : m_path(std::move(path)), m_handle(handle), m_get_properties(get_properties),
      m_make_module(make_module) {}

ModuleLibrary::~ModuleLibrary() {
    platform::CloseLibrary(m_handle);
}

} // namespace sehost
