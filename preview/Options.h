// The preview command's options, and how its plug settings resolve against a module's plugs.
#pragma once

#include "PlugTable.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#define MODULE_FILE_NAME "Module.dll"
#else
#define MODULE_FILE_NAME "Module.so"
#endif

namespace preview {

struct NamedValue {
    std::string name;
    std::string value;
};

// A plug setting that takes effect once the signal has played this long.
struct TimedValue {
    double seconds;
    NamedValue setting;
};

struct Options {
    bool help = false;
    bool version = false;
    bool list_plugs = false;
    bool quiet = false;
    std::string module_path; // empty: the module library beside the program
    std::string log;         // a record of what the host relayed, and the paints
    std::string input;       // empty: the demo signal
    int channel = 0;         // 0 mixes all channels down
    std::optional<double> duration;
    std::optional<float> sample_rate;
    int32_t block_size = 256;
    double frames_per_second = 30.0;
    int32_t width = 400;
    int32_t height = 100;
    std::string out;    // the last paint
    std::string series; // prefix of numbered paints
    std::string sheet;  // contact sheet
    std::string video;  // every paint tick as a frame, with the signal as sound
    int moments = 4;

    // In the order given; later settings of one plug win.
    std::vector<NamedValue> sets;
    std::optional<std::string> magnify;
    std::vector<NamedValue> colours;    // group, #RRGGBB
    std::vector<NamedValue> blends;     // group, 0..255
    std::optional<std::string> shading; // "X,Y"
    std::vector<TimedValue> changes;    // in the order given
};

// Throws sehost::HostError on an unknown option, a missing or malformed value, or a value out
// of range.
Options ParseOptions(int argc, const char* const* argv);

std::string Usage(const std::string& program);

// The timed changes as (sample, plug index, value bits), ordered by time (stable), against the
// plug table at the given sample rate. Throws sehost::HostError like ResolveSettings.
struct TimedChange {
    int64_t sample;
    int32_t plug;
    uint32_t bits;
};
std::vector<TimedChange> ResolveChanges(const Options& options,
                                        const std::vector<sehost::PlugInfo>& plugs,
                                        double sample_rate);

// Turns every plug setting into (plug index, value bits) against the plug table, in order; an
// "Active" plug that no setting names comes first, switched ON. Throws sehost::HostError naming
// the plug, the choice or the range at fault.
std::vector<std::pair<int32_t, uint32_t>>
ResolveSettings(const Options& options, const std::vector<sehost::PlugInfo>& plugs);

} // namespace preview
