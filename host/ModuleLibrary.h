// A module file loaded through its two exports, getModuleProperties and makeModule.
#pragma once

#include "se_types.h"

#include <cstring>
#include <memory>
#include <string>

namespace sehost {

class ModuleLibrary {
public:
    // Loads the file at path; throws HostError when it is missing, is not a loadable library
    // or lacks either export.
    static std::unique_ptr<ModuleLibrary> Load(const std::string& path);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    const std::string& Path() const { return m_path; }
    GetModulePropertiesFn GetProperties() const { return m_get_properties; }
    MakeModuleFn MakeModule() const { return m_make_module; }

private:
    ModuleLibrary(std::string path, void* handle, GetModulePropertiesFn get_properties,
                  MakeModuleFn make_module);

    std::string m_path;
    void* m_handle;
    GetModulePropertiesFn m_get_properties;
    MakeModuleFn m_make_module;
};

// The host object behind a request from a module's record: the one the record names, when the
// record has the magic of the kind expected (AudioPlugRecord or GuiPlugRecord); null otherwise.
template <typename Host, typename Record> Host* HostOfRecord(void* record, int32_t magic) {
    int32_t found = 0;
    if (record != nullptr) {
        std::memcpy(&found, record, sizeof found);
    }
    return found == magic ? reinterpret_cast<Host*>(static_cast<Record*>(record)->hostData)
                          : nullptr;
}

// The platform's loader, kept apart so that another platform only replaces these three.
namespace platform {
// Returns null and fills error when the library cannot be loaded.
void* OpenLibrary(const std::string& path, std::string& error);
void* FindSymbol(void* library, const char* name);
void CloseLibrary(void* library);
} // namespace platform

} // namespace sehost
