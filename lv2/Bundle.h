// What both binaries of the bundle do alike with what the LV2 host gives them: its features,
// the bundle folder the module file lies in, and its log.
#pragma once

#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <string>

namespace lv2proto {

// The data of the feature with this URI in a host's list, or null.
const void* FeatureData(const LV2_Feature* const* features, const char* uri);

// The module file inside the bundle folder the host names (null: the current folder).
std::string ModulePath(const char* bundle_path);

// Tells the host's log, as an error, or the standard error stream when the host has no log or
// maps no URIs.
void LogError(const LV2_Log_Log* log, const LV2_URID_Map* map, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

} // namespace lv2proto
