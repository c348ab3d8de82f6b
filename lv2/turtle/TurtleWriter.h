// Writes the bundle's Turtle from the module's plug table: the manifest, and the plug-ins'
// descriptions with one port per plug (ranges, choices, defaults) and their UIs' descriptions.
#pragma once

#include "PlugTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lv2turtle {

struct BundleFiles {
    std::string dsp_binary; // file names inside the bundle
    std::string ui_binary;
    std::string description; // the plug-in's Turtle file
};

// What the module's table says, and the values a fresh instance shows (raw bits, by plug).
struct ModuleDescription {
    std::string name;
    std::vector<sehost::PlugInfo> plugs;
    std::vector<uint32_t> defaults;
    // The project's release, as hosts compare plug-in versions.
    int minor_version = 0;
    int micro_version = 0;
};

// Starts the plugs of kInsertedStarts where a host that shows the display on insertion wants
// them ("Active" ON), while the module itself keeps its own start. Throws sehost::HostError when
// the table lacks such a plug or choice.
void StartAsInserted(ModuleDescription& module);

std::string ManifestTurtle(const BundleFiles& files);
// Throws sehost::HostError when the table has no audio input.
std::string PluginTurtle(const ModuleDescription& module, const BundleFiles& files);

// A Turtle string literal, quotes included.
std::string Literal(const std::string& text);
// A number as a Turtle literal: integers as integers, others as decimals.
std::string Number(double value);

} // namespace lv2turtle
