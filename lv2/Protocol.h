// The vocabulary both binaries of the plug-in bundle share: the URIs of the plug-in, its view and
// the messages between them, and the port layout, which both sides derive from the module's own
// plug table so that neither keeps a copy of it.
//
// Messages travel as atoms whose type is the message kind and whose body is its payload:
//   Frame     (plug-in -> view) the 800 frame bytes as the audio half sent them;
//   Peak      (plug-in -> view) one int32, the peak message's value;
//   FrameRead (view -> plug-in) one int32, the value the view sent with its "frame read" reply.
#pragma once

#include "PlugTable.h"

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace lv2proto {

#define STRIP_VIEWER_URI "urn:strip-viewer:display"

constexpr const char* kPluginUri = STRIP_VIEWER_URI;
constexpr const char* kUiUri = STRIP_VIEWER_URI "#ui";
constexpr const char* kFrameUri = STRIP_VIEWER_URI "#Frame";
constexpr const char* kPeakUri = STRIP_VIEWER_URI "#Peak";
constexpr const char* kFrameReadUri = STRIP_VIEWER_URI "#FrameRead";

// The module file both binaries load from their own bundle folder.
constexpr const char* kModuleFile = "Module.so";

// Fixed ports; the module's other plugs follow from kFirstControlPort in plug index order.
constexpr uint32_t kPortAudioIn = 0;
constexpr uint32_t kPortAudioOut = 1;
constexpr uint32_t kPortControl = 2; // atom input: view -> plug-in
constexpr uint32_t kPortNotify = 3;  // atom output: plug-in -> view
constexpr uint32_t kFirstControlPort = 4;

constexpr const char* kSymbolAudioOut = "audio_out";
constexpr const char* kSymbolControl = "control";
constexpr const char* kSymbolNotify = "notify";

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

struct ControlPort {
    uint32_t port = 0;
    int32_t plug = 0; // index into the plug table
    std::string symbol;
};

struct PortLayout {
    int32_t audio_plug = -1; // the plug behind port 0
    std::string audio_symbol;
    std::vector<ControlPort> controls; // by port, from kFirstControlPort on

    uint32_t PortCount() const {
        return kFirstControlPort + static_cast<uint32_t>(controls.size());
    }

    // The control port's entry, or null for the fixed ports and ports out of range.
    const ControlPort* Control(uint32_t port) const {
        if (port < kFirstControlPort || port >= PortCount()) {
            return nullptr;
        }
        return &controls[port - kFirstControlPort];
    }
};

// The port layout for a plug table: the first audio input is port 0, every other plug that is
// not audio becomes a control input. Symbols are made unique with a numeric suffix.
inline PortLayout LayoutPorts(const std::vector<sehost::PlugInfo>& plugs) {
    PortLayout layout;
    std::vector<std::string> taken = {kSymbolAudioOut, kSymbolControl, kSymbolNotify};
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
                layout.audio_symbol = unique(PortSymbol(plug.name));
            }
            continue; // further audio plugs get silence
        }
        ControlPort control;
        control.port = kFirstControlPort + static_cast<uint32_t>(layout.controls.size());
        control.plug = plug.index;
        control.symbol = unique(PortSymbol(plug.name));
        layout.controls.push_back(control);
    }
    return layout;
}

} // namespace lv2proto
