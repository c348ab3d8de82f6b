#include "Bundle.h"

#include "Protocol.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace lv2proto {

const void* FeatureData(const LV2_Feature* const* features, const char* uri) {
    for (const LV2_Feature* const* f = features; f != nullptr && *f != nullptr; ++f) {
        if (std::strcmp((*f)->URI, uri) == 0) {
            return (*f)->data;
        }
    }
    return nullptr;
}

std::string ModulePath(const char* bundle_path) {
    std::string folder = bundle_path != nullptr ? bundle_path : "";
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return folder + kModuleFile;
}

void LogError(const LV2_Log_Log* log, const LV2_URID_Map* map, const char* format, ...) {
    const LV2_URID error =
        log != nullptr && map != nullptr ? map->map(map->handle, LV2_LOG__Error) : 0;
    va_list args;
    va_start(args, format);
    if (error != 0) {
        log->vprintf(log->handle, error, format, args);
    } else {
        std::vfprintf(stderr, format, args);
    }
    va_end(args);
}

} // namespace lv2proto
