// The vocabulary both binaries of the plug-in bundle share: the URIs of the plug-in, its view and
// the messages between them, and the port layout, which both sides derive from the module's own
// plug table so that neither keeps a copy of it; and what both do alike with what the LV2 host
// gives them (its features, the bundle folder, its log).
//
// Messages travel as atoms whose type is the message kind and whose body is its payload:
//   Frame     (plug-in -> view) the 800 frame bytes as the audio half sent them;
//   Peak      (plug-in -> view) one int32, the peak message's value;
//   FrameRead (view -> plug-in) one int32, the value the view sent with its "frame read" reply.
#pragma once

#include "PlugTable.h"
#include "plug_ranges.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace lv2proto {

#define STRIP_VIEWER_URI "urn:strip-viewer:display"

constexpr const char* kPluginUri = STRIP_VIEWER_URI;
constexpr const char* kUiUri = STRIP_VIEWER_URI "#ui";
constexpr const char* kStereoPluginUri = STRIP_VIEWER_URI "#stereo";
constexpr const char* kStereoUiUri = STRIP_VIEWER_URI "#stereo_ui";
constexpr const char* kFrameUri = STRIP_VIEWER_URI "#Frame";
constexpr const char* kPeakUri = STRIP_VIEWER_URI "#Peak";
constexpr const char* kFrameReadUri = STRIP_VIEWER_URI "#FrameRead";
// Extension data of the plug-in: its counters, read by hosts that know the URI (the tests).
constexpr const char* kCountersUri = STRIP_VIEWER_URI "#counters";

struct Counters {
    // Messages that found no room on the notify port (or no port) and were dropped.
    int64_t (*dropped)(void* instance);
    // Messages written to the notify port.
    int64_t (*sent)(void* instance);
};

// The bundle's two plug-ins, by the index of their descriptors in both binaries: the display of
// a mono signal, and of a stereo pair passed through whole while the display shows one channel
// of it or their mix. Both host one module instance and one view.
struct PluginKind {
    const char* uri;
    const char* ui_uri;
    const char* name_suffix; // after the module's name in host lists
    bool stereo;
};

constexpr PluginKind kPluginKinds[] = {
    {kPluginUri, kUiUri, "", false},
    {kStereoPluginUri, kStereoUiUri, " (stereo)", true},
};
constexpr uint32_t kPluginKindCount = sizeof kPluginKinds / sizeof kPluginKinds[0];

// The message kinds as the host maps them, with the atom types that carry them.
struct MessageUrids {
    LV2_URID event_transfer = 0;
    LV2_URID frame = 0;
    LV2_URID peak = 0;
    LV2_URID frame_read = 0;
    LV2_URID sequence = 0;
};

inline MessageUrids MapMessageUrids(const LV2_URID_Map& map) {
    const auto id = [&map](const char* uri) { return map.map(map.handle, uri); };
    return {id(LV2_ATOM__eventTransfer), id(kFrameUri), id(kPeakUri), id(kFrameReadUri),
            id(LV2_ATOM__Sequence)};
}

// The data of the feature with this URI in a host's list, or null.
inline const void* FeatureData(const LV2_Feature* const* features, const char* uri) {
    for (const LV2_Feature* const* f = features; f != nullptr && *f != nullptr; ++f) {
        if (std::strcmp((*f)->URI, uri) == 0) {
            return (*f)->data;
        }
    }
    return nullptr;
}

// Tells the host's log, as an error, or the standard error stream when the host has no log or
// maps no URIs.
inline void LogError(const LV2_Log_Log* log, const LV2_URID_Map* map, const char* format, ...) {
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

// The module file both binaries load from the bundle folder the host names.
constexpr const char* kModuleFile = "Module.so";

inline std::string ModulePath(const char* bundle_path) {
    std::string folder = bundle_path != nullptr ? bundle_path : "";
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return folder + kModuleFile;
}

// Fixed ports; the module's other plugs follow from kFirstControlPort in plug index order.
constexpr uint32_t kPortAudioIn = 0;
constexpr uint32_t kPortAudioOut = 1;
constexpr uint32_t kPortControl = 2; // atom input: view -> plug-in
constexpr uint32_t kPortNotify = 3;  // atom output: plug-in -> view
constexpr uint32_t kFirstControlPort = 4;

constexpr const char* kSymbolControl = "control";
constexpr const char* kSymbolNotify = "notify";
constexpr const char* kSymbolChannel = "channel";

// The channel a stereo plug-in's display shows, as its "Channel" port holds it. The mix is the
// mean of the two, summed and divided as MeanOfChannels does for a sound file's channels.
enum DisplayedChannel : int32_t { kChannelMix = 0, kChannelLeft = 1, kChannelRight = 2 };

// The "Channel" port described as a choice plug, so that it is written, held to its range and
// snapped to its choices by the same routines as the module's own choices.
inline sehost::PlugInfo ChannelChoice() {
    sehost::PlugInfo plug;
    plug.index = -1; // not the module's
    plug.name = "Channel";
    plug.datatype = PIN_TYPE_ENUM;
    plug.choices = {{"Mix", kChannelMix}, {"Left", kChannelLeft}, {"Right", kChannelRight}};
    return plug;
}

// A port symbol from a plug name: lower case, each run of other characters one "_", none at
// either end, and never starting with a digit.
inline std::string PortSymbol(const std::string& name) {
    std::string symbol;
    bool gap = false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) != 0 && u < 0x80) {
            if (gap && !symbol.empty()) {
                symbol += '_';
            }
            gap = false;
            symbol += static_cast<char>(std::tolower(u));
        } else {
            gap = true;
        }
    }
    if (symbol.empty() || std::isdigit(static_cast<unsigned char>(symbol[0])) != 0) {
        symbol.insert(0, "p_");
    }
    return symbol;
}

// The range a control port offers for a plug: the module's own for its whole-number and real
// plugs, the choices' span for a choice, 0 to 1 for a switch.
inline PlugRange RangeOf(const sehost::PlugInfo& plug) {
    switch (plug.datatype) {
    case PIN_TYPE_ENUM: {
        if (plug.choices.empty()) {
            return {-32768.0f, 32767.0f};
        }
        PlugRange range{static_cast<float>(plug.choices[0].value),
                        static_cast<float>(plug.choices[0].value)};
        for (const sehost::Choice& choice : plug.choices) {
            range.min = std::fmin(range.min, static_cast<float>(choice.value));
            range.max = std::fmax(range.max, static_cast<float>(choice.value));
        }
        return range;
    }
    case PIN_TYPE_BOOL:
        return {0.0f, 1.0f};
    case PIN_TYPE_FLOAT:
    case PIN_TYPE_INT:
        if (plug.index >= 0 && plug.index < PLUG_COUNT &&
            kPlugRanges[plug.index].min < kPlugRanges[plug.index].max) {
            return kPlugRanges[plug.index];
        }
        return plug.datatype == PIN_TYPE_FLOAT ? PlugRange{0.0f, 16.0f}
                                               : PlugRange{-32768.0f, 32767.0f};
    default:
        return {};
    }
}

// The plug value (raw bits, as the host library holds them) that a port's float stands for,
// held to the port's range; choices snap to the nearest listed value. Nothing for NaN, which
// leaves the plug as it is. Allocates nothing.
inline std::optional<uint32_t> PortValueBits(const sehost::PlugInfo& plug, const PlugRange& range,
                                             float value) {
    if (std::isnan(value)) {
        return std::nullopt;
    }
    const float held = std::fmin(std::fmax(value, range.min), range.max);
    if (plug.datatype == PIN_TYPE_FLOAT) {
        return sehost::FloatBits(held);
    }
    auto whole = static_cast<int32_t>(std::lround(held));
    if (plug.datatype == PIN_TYPE_ENUM && !plug.choices.empty()) {
        int32_t best = plug.choices[0].value;
        for (const sehost::Choice& choice : plug.choices) {
            if (std::abs(choice.value - whole) < std::abs(best - whole)) {
                best = choice.value;
            }
        }
        whole = best;
    }
    return sehost::NormaliseInt(plug.datatype, whole);
}

// The stereo plug-in's "Channel" control as both halves read it: held as the module's choices
// are (NaN keeps the channel, other values go to the nearest). Allocates nothing once made.
class ChannelControl {
public:
    // Takes the port's value; true when it chose another channel.
    bool Take(float value) {
        // Most runs see the value of the run before: compared as bits, so that NaN counts too.
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        if (bits == m_seen) {
            return false;
        }
        m_seen = bits;
        const std::optional<uint32_t> chosen = PortValueBits(m_choice, m_range, value);
        if (!chosen || static_cast<int32_t>(*chosen) == m_channel) {
            return false;
        }
        m_channel = static_cast<int32_t>(*chosen);
        return true;
    }
    int32_t Channel() const { return m_channel; }

private:
    sehost::PlugInfo m_choice = ChannelChoice();
    PlugRange m_range = RangeOf(m_choice);
    int32_t m_channel = kChannelMix;
    uint32_t m_seen = 0xFFFFFFFFu; // a NaN: before the first value, none is held
};

// A plug value as a port's float.
inline float BitsPortValue(const sehost::PlugInfo& plug, uint32_t bits) {
    if (plug.datatype == PIN_TYPE_FLOAT) {
        return sehost::BitsFloat(bits);
    }
    return static_cast<float>(static_cast<int32_t>(bits));
}

struct ControlPort {
    uint32_t port = 0;
    int32_t plug = 0; // index into the plug table
    std::string symbol;
    PlugRange range;
};

struct AudioPort {
    uint32_t port = 0;
    bool output = false;
    std::string symbol;
    std::string name;
};

// A stereo plug-in has the mono one's ports, its left channel on ports 0 and 1, so that the
// module's plugs keep their ports in both; its right channel and the channel choice follow them.
struct StereoPorts {
    uint32_t in_right = 0;
    uint32_t out_right = 0;
    uint32_t channel = 0;
};

struct PortLayout {
    int32_t audio_plug = -1;           // the plug behind port 0
    std::vector<AudioPort> audio;      // inputs and outputs, left before right
    std::vector<ControlPort> controls; // by port, from kFirstControlPort on
    bool stereo = false;
    StereoPorts stereo_ports; // when stereo

    uint32_t PortCount() const {
        return kFirstControlPort + static_cast<uint32_t>(controls.size()) + (stereo ? 3u : 0u);
    }

    // The control port's entry, or null for the fixed ports and ports out of range.
    const ControlPort* Control(uint32_t port) const {
        if (port < kFirstControlPort || port - kFirstControlPort >= controls.size()) {
            return nullptr;
        }
        return &controls[port - kFirstControlPort];
    }
};

// The port layout for a plug table: the first audio input is port 0, every other plug that is
// not audio becomes a control input. Symbols are made unique with a numeric suffix.
inline PortLayout LayoutPorts(const std::vector<sehost::PlugInfo>& plugs, bool stereo = false) {
    PortLayout layout;
    layout.stereo = stereo;
    std::vector<std::string> taken = {kSymbolControl, kSymbolNotify};
    if (stereo) {
        taken.push_back(kSymbolChannel);
    }
    const auto unique = [&taken](std::string symbol) {
        const std::string stem = symbol;
        for (int n = 2;; ++n) {
            bool clash = false;
            for (const std::string& t : taken) {
                clash = clash || t == symbol;
            }
            if (!clash) {
                break;
            }
            symbol = stem + "_" + std::to_string(n);
        }
        taken.push_back(symbol);
        return symbol;
    };
    for (const sehost::PlugInfo& plug : plugs) {
        if (plug.datatype == PIN_TYPE_AUDIO) {
            if (layout.audio_plug < 0 && plug.direction == DR_IN) {
                layout.audio_plug = plug.index;
            }
            continue; // further audio plugs get silence
        }
        ControlPort control;
        control.port = kFirstControlPort + static_cast<uint32_t>(layout.controls.size());
        control.plug = plug.index;
        control.symbol = PortSymbol(plug.name);
        control.range = RangeOf(plug);
        layout.controls.push_back(control);
    }
    if (layout.audio_plug < 0) {
        return layout;
    }
    const uint32_t after = kFirstControlPort + static_cast<uint32_t>(layout.controls.size());
    if (stereo) {
        layout.stereo_ports = {after, after + 1, after + 2};
    }
    // The audio ports' symbols are taken before the controls', so that they stay put.
    const std::string in_name = plugs[layout.audio_plug].name;
    const auto add_audio = [&](uint32_t port, bool output, const char* side) {
        const std::string name = output ? std::string("Audio_Out") + side : in_name + side;
        layout.audio.push_back({port, output, unique(PortSymbol(name)), name});
    };
    add_audio(kPortAudioIn, false, stereo ? " Left" : "");
    if (stereo) {
        add_audio(layout.stereo_ports.in_right, false, " Right");
    }
    add_audio(kPortAudioOut, true, stereo ? " Left" : "");
    if (stereo) {
        add_audio(layout.stereo_ports.out_right, true, " Right");
    }
    for (ControlPort& control : layout.controls) {
        control.symbol = unique(control.symbol);
    }
    return layout;
}

} // namespace lv2proto
