#include "TurtleWriter.h"

#include "HostError.h"
#include "Protocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace lv2turtle {

namespace {

const char kPrefixes[] = "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
                         "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                         "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
                         "@prefix log:  <http://lv2plug.in/ns/ext/log#> .\n"
                         "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
                         "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
                         "@prefix rdf:  <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                         "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                         "@prefix rsz:  <http://lv2plug.in/ns/ext/resize-port#> .\n"
                         "@prefix ui:   <http://lv2plug.in/ns/extensions/ui#> .\n"
                         "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

const char kMaintainer[] = "Strip Viewer developers";
const char kLicense[] = "http://opensource.org/licenses/MIT";

// Room on the notify port for a few frames and a 4096-sample block of 1 ms peaks.
constexpr int kNotifyMinimumSize = 8192;

std::string Uri(const char* uri) {
    return std::string("<") + uri + ">";
}

void ControlPortTurtle(std::ostringstream& out, const lv2proto::ControlPort& port,
                       const sehost::PlugInfo& plug, uint32_t value) {
    out << "        a lv2:InputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << port.port << " ;\n"
        << "        lv2:symbol " << Literal(port.symbol) << " ;\n"
        << "        lv2:name " << Literal(plug.name) << " ;\n"
        << "        lv2:default " << Number(lv2proto::BitsPortValue(plug, value)) << " ;\n"
        << "        lv2:minimum " << Number(port.range.min) << " ;\n"
        << "        lv2:maximum " << Number(port.range.max);
    if (plug.datatype == PIN_TYPE_FLOAT) {
        out << "\n";
        return;
    }
    if (plug.datatype == PIN_TYPE_BOOL) {
        out << " ;\n        lv2:portProperty lv2:toggled\n";
        return;
    }
    out << " ;\n        lv2:portProperty lv2:integer";
    if (!plug.choices.empty()) {
        out << " , lv2:enumeration";
    }
    std::vector<std::pair<int32_t, std::string>> points;
    for (const sehost::Choice& choice : plug.choices) {
        points.emplace_back(choice.value, choice.name);
    }
    if (port.range.min_label != nullptr) {
        points.emplace_back(static_cast<int32_t>(port.range.min), port.range.min_label);
    }
    for (size_t i = 0; i < points.size(); ++i) {
        out << (i == 0 ? " ;\n        lv2:scalePoint " : " ,\n            ") << "[ rdfs:label "
            << Literal(points[i].second) << " ; rdf:value " << points[i].first << " ]";
    }
    out << "\n";
}

} // namespace

std::string Literal(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

std::string Number(double value) {
    char text[64];
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        std::snprintf(text, sizeof text, "%.9e", value);
    }
    return text;
}

void StartAsInserted(ModuleDescription& module) {
    for (const PlugStart& start : kInsertedStarts) {
        const auto index = static_cast<size_t>(start.plug);
        const bool listed =
            index < module.plugs.size() && index < module.defaults.size() &&
            std::any_of(module.plugs[index].choices.begin(), module.plugs[index].choices.end(),
                        [&](const sehost::Choice& choice) { return choice.value == start.value; });
        if (!listed) {
            throw sehost::HostError("the module's plug " + std::to_string(start.plug) +
                                    " has no choice " + std::to_string(start.value) +
                                    " to start at");
        }
        module.defaults[index] = static_cast<uint32_t>(start.value);
    }
}

std::string ManifestTurtle(const BundleFiles& files) {
    std::ostringstream out;
    out << kPrefixes;
    for (const lv2proto::PluginKind& kind : lv2proto::kPluginKinds) {
        out << Uri(kind.uri) << "\n"
            << "    a lv2:Plugin ;\n"
            << "    lv2:binary <" << files.dsp_binary << "> ;\n"
            << "    rdfs:seeAlso <" << files.description << "> .\n\n";
        out << Uri(kind.ui_uri) << "\n"
            << "    a ui:X11UI ;\n"
            << "    ui:binary <" << files.ui_binary << "> ;\n"
            << "    rdfs:seeAlso <" << files.description << "> .\n\n";
    }
    return out.str();
}

namespace {

void PluginDescription(std::ostringstream& out, const ModuleDescription& module,
                       const lv2proto::PluginKind& kind) {
    const lv2proto::PortLayout layout = lv2proto::LayoutPorts(module.plugs, kind.stereo);
    if (layout.audio_plug < 0) {
        throw sehost::HostError("the module has no audio input to make a plug-in of");
    }
    out << Uri(kind.uri) << "\n"
        << "    a lv2:Plugin , lv2:AnalyserPlugin , doap:Project ;\n"
        << "    doap:name " << Literal(module.name + kind.name_suffix) << " ;\n"
        << "    doap:maintainer [ foaf:name " << Literal(kMaintainer) << " ] ;\n"
        << "    doap:license " << Uri(kLicense) << " ;\n"
        << "    lv2:minorVersion " << module.minor_version << " ;\n"
        << "    lv2:microVersion " << module.micro_version << " ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , urid:map , log:log , opts:options ;\n"
        << "    ui:ui " << Uri(kind.ui_uri) << " ;\n"
        << "    lv2:port [\n";
    for (const lv2proto::AudioPort& port : layout.audio) {
        out << "        a " << (port.output ? "lv2:OutputPort" : "lv2:InputPort")
            << " , lv2:AudioPort ;\n"
            << "        lv2:index " << port.port << " ;\n"
            << "        lv2:symbol " << Literal(port.symbol) << " ;\n"
            << "        lv2:name " << Literal(port.name) << "\n"
            << "    ] , [\n";
    }
    out << "        a lv2:InputPort , atom:AtomPort ;\n"
        << "        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports " << Uri(lv2proto::kFrameReadUri) << " ;\n"
        << "        lv2:designation lv2:control ;\n"
        << "        lv2:portProperty lv2:connectionOptional ;\n"
        << "        lv2:index " << lv2proto::kPortControl << " ;\n"
        << "        lv2:symbol " << Literal(lv2proto::kSymbolControl) << " ;\n"
        << "        lv2:name \"Control\"\n"
        << "    ] , [\n"
        << "        a lv2:OutputPort , atom:AtomPort ;\n"
        << "        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports " << Uri(lv2proto::kFrameUri) << " , " << Uri(lv2proto::kPeakUri)
        << " ;\n"
        << "        lv2:designation lv2:control ;\n"
        << "        lv2:portProperty lv2:connectionOptional ;\n"
        << "        rsz:minimumSize " << kNotifyMinimumSize << " ;\n"
        << "        lv2:index " << lv2proto::kPortNotify << " ;\n"
        << "        lv2:symbol " << Literal(lv2proto::kSymbolNotify) << " ;\n"
        << "        lv2:name \"Notify\"\n"
        << "    ]";
    for (const lv2proto::ControlPort& port : layout.controls) {
        const sehost::PlugInfo& plug = module.plugs[port.plug];
        const uint32_t value = static_cast<size_t>(port.plug) < module.defaults.size()
                                   ? module.defaults[port.plug]
                                   : sehost::InitialValue(plug);
        out << " , [\n";
        ControlPortTurtle(out, port, plug, value);
        out << "    ]";
    }
    if (kind.stereo) {
        const sehost::PlugInfo channel = lv2proto::ChannelChoice();
        const lv2proto::ControlPort port{layout.stereo_ports.channel, channel.index,
                                         lv2proto::kSymbolChannel, lv2proto::RangeOf(channel)};
        out << " , [\n";
        ControlPortTurtle(out, port, channel, lv2proto::kChannelMix);
        out << "    ]";
    }
    out << " .\n\n";
}

// The view needs a window of the host's to open in, so a parent is required.
void UiDescription(std::ostringstream& out, const lv2proto::PluginKind& kind,
                   const BundleFiles& files) {
    out << Uri(kind.ui_uri) << "\n"
        << "    a ui:X11UI ;\n"
        << "    ui:binary <" << files.ui_binary << "> ;\n"
        << "    lv2:requiredFeature urid:map , ui:parent ;\n"
        << "    lv2:optionalFeature ui:resize , ui:idleInterface , log:log ;\n"
        << "    lv2:extensionData ui:idleInterface ;\n"
        << "    ui:portNotification [\n"
        << "        ui:plugin " << Uri(kind.uri) << " ;\n"
        << "        lv2:symbol " << Literal(lv2proto::kSymbolNotify) << " ;\n"
        << "        ui:notifyType atom:Atom ;\n"
        << "        ui:protocol atom:eventTransfer\n"
        << "    ] .\n\n";
}

} // namespace

std::string PluginTurtle(const ModuleDescription& module, const BundleFiles& files) {
    std::ostringstream out;
    out << kPrefixes;
    for (const lv2proto::PluginKind& kind : lv2proto::kPluginKinds) {
        PluginDescription(out, module, kind);
    }
    // The message types, as the atom ports' atom:supports names them.
    const std::pair<const char*, const char*> messages[] = {
        {lv2proto::kFrameUri, "the 800 frame bytes, plug-in to view"},
        {lv2proto::kPeakUri, "one int32, the peak value, plug-in to view"},
        {lv2proto::kFrameReadUri, "one int32, the view's frame-read reply, view to plug-in"}};
    for (const auto& [uri, body] : messages) {
        out << Uri(uri) << "\n"
            << "    a rdfs:Class ;\n"
            << "    rdfs:subClassOf atom:Atom ;\n"
            << "    rdfs:comment " << Literal(std::string("A message atom: ") + body + ".")
            << " .\n\n";
    }
    for (const lv2proto::PluginKind& kind : lv2proto::kPluginKinds) {
        UiDescription(out, kind, files);
    }
    return out.str();
}

} // namespace lv2turtle
