#include "Options.h"

#include "Decimal.h"
#include "HostError.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace preview {

using sehost::HostError;
using sehost::PlugInfo;

namespace {

double Number(const std::string& option, const std::string& text, double low, double high) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE ||
        !std::isfinite(value)) {
        throw HostError(option + " takes a number, not \"" + text + "\"");
    }
    if (value < low || value > high) {
        throw HostError(option + " must lie between " + Decimal(low) + " and " + Decimal(high) +
                        ", not " + text);
    }
    return value;
}

int32_t Whole(const std::string& option, const std::string& text, long low, long high) {
    const double value = Number(option, text, static_cast<double>(low), static_cast<double>(high));
    if (value != std::floor(value)) {
        throw HostError(option + " takes a whole number, not \"" + text + "\"");
    }
    return static_cast<int32_t>(value);
}

NamedValue Split(const std::string& option, const std::string& text) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw HostError(option + " takes NAME=VALUE, not \"" + text + "\"");
    }
    return {text.substr(0, equals), text.substr(equals + 1)};
}

// The names of the module's plugs that the convenience options and the default stand for: the
// only plug names the preview knows. A module that names its plugs otherwise is told so as for
// --set, by the plug's name and the list of those it has.
const char kMagnifyPlug[] = "Display Y Magnify";
const char* const kColourPlugs[] = {" Red", " Green", " Blue"}; // after the colour's group
const char kBlendPlug[] = " Alpha (blend)";                     // after the colour's group
const char kShadingXPlug[] = "Shading X%";
const char kShadingYPlug[] = "Shading Y%";
const char kActivePlug[] = "Active";
const char kActiveOn[] = "ON";

// A plug setting by name, with the option that asks for it (empty for --set and --at).
struct NamedSetting {
    std::string option;
    NamedValue setting;
};

const PlugInfo& Named(const std::vector<PlugInfo>& plugs, const std::string& name,
                      const std::string& option) {
    for (const PlugInfo& plug : plugs) {
        if (plug.name == name) {
            return plug;
        }
    }
    std::string names;
    for (const PlugInfo& plug : plugs) {
        if (plug.datatype != PIN_TYPE_AUDIO) {
            names += (names.empty() ? "\"" : ", \"") + plug.name + "\"";
        }
    }
    throw HostError((option.empty() ? "" : option + ": ") + "the module has no plug \"" + name +
                    "\"; its plugs are " + names);
}

uint32_t Parse(const PlugInfo& plug, const std::string& text) {
    std::string error;
    const auto bits = sehost::ParsePlugValue(plug, text, error);
    if (!bits) {
        throw HostError(error);
    }
    return *bits;
}

// A setting as (plug index, value bits): the plug by its exact name, the value as its type reads.
std::pair<int32_t, uint32_t> Resolve(const std::vector<PlugInfo>& plugs, const NamedSetting& s) {
    const PlugInfo& plug = Named(plugs, s.setting.name, s.option);
    if (plug.datatype == PIN_TYPE_AUDIO) {
        throw HostError("\"" + plug.name + "\" carries audio and takes no value");
    }
    return {plug.index, Parse(plug, s.setting.value)};
}

// Every plug setting the options ask for, by plug name, in the order they apply.
std::vector<NamedSetting> NamedSettings(const Options& o) {
    std::vector<NamedSetting> named;
    if (o.magnify) {
        Number("--magnify", *o.magnify, -1000.0, 1000.0);
        named.push_back({"--magnify", {kMagnifyPlug, *o.magnify}});
    }
    for (const NamedValue& colour : o.colours) {
        const std::string option = "--color " + colour.name;
        const std::string& text = colour.value;
        const bool hex = text.size() == 7 && text[0] == '#' &&
                         text.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos;
        if (!hex) {
            throw HostError(option + ": \"" + text + "\" is not #RRGGBB");
        }
        const unsigned long rgb = std::strtoul(text.c_str() + 1, nullptr, 16);
        for (int k = 0; k < 3; ++k) {
            const std::string component = std::to_string((rgb >> (16 - 8 * k)) & 0xFF);
            named.push_back({option, {colour.name + kColourPlugs[k], component}});
        }
    }
    for (const NamedValue& blend : o.blends) {
        const std::string option = "--blend " + blend.name;
        Whole(option, blend.value, 0, 255);
        named.push_back({option, {blend.name + kBlendPlug, blend.value}});
    }
    if (o.shading) {
        const size_t comma = o.shading->find(',');
        if (comma == std::string::npos) {
            throw HostError("--shading takes X%,Y%, not \"" + *o.shading + "\"");
        }
        const std::string x = o.shading->substr(0, comma);
        const std::string y = o.shading->substr(comma + 1);
        Whole("--shading X%", x, 0, 100);
        Whole("--shading Y%", y, 0, 100);
        named.push_back({"--shading", {kShadingXPlug, x}});
        named.push_back({"--shading", {kShadingYPlug, y}});
    }
    for (const NamedValue& set : o.sets) {
        named.push_back({"", set});
    }
    return named;
}

} // namespace

Options ParseOptions(int argc, const char* const* argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool has_value = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
                has_value = true;
            }
        }
        const auto take = [&]() -> std::string {
            if (has_value) {
                return value;
            }
            if (i + 1 >= argc) {
                throw HostError(arg + " needs a value");
            }
            return argv[++i];
        };
        // An empty name would quietly fall back to the default file or signal.
        const auto take_name = [&]() -> std::string {
            std::string name = take();
            if (name.empty()) {
                throw HostError(arg + " needs a file name, not an empty one");
            }
            return name;
        };
        const auto flag = [&] {
            if (has_value) {
                throw HostError(arg + " takes no value");
            }
        };
        if (arg == "-h" || arg == "--help") {
            flag();
            o.help = true;
        } else if (arg == "--version") {
            flag();
            o.version = true;
        } else if (arg == "--list") {
            flag();
            o.list_plugs = true;
        } else if (arg == "-q" || arg == "--quiet") {
            flag();
            o.quiet = true;
        } else if (arg == "--log") {
            o.log = take_name();
        } else if (arg == "--at") {
            const std::string text = take();
            const size_t colon = text.find(':');
            if (colon == std::string::npos) {
                throw HostError("--at takes SECONDS:NAME=VALUE, not \"" + text + "\"");
            }
            o.changes.push_back({Number(arg, text.substr(0, colon), 0.0, 86400.0),
                                 Split(arg, text.substr(colon + 1))});
        } else if (arg == "--module") {
            o.module_path = take_name();
        } else if (arg == "-i" || arg == "--input") {
            o.input = take_name();
        } else if (arg == "--channel") {
            const std::string text = take();
            o.channel = text == "mix" ? 0 : Whole(arg, text, 1, 1024);
        } else if (arg == "--duration") {
            o.duration = Number(arg, take(), 0.001, 86400.0);
        } else if (arg == "--rate") {
            o.sample_rate = static_cast<float>(Number(arg, take(), 8000.0, 384000.0));
        } else if (arg == "--block") {
            o.block_size = Whole(arg, take(), 1, 8192);
        } else if (arg == "--fps") {
            o.frames_per_second = Number(arg, take(), 0.1, 1000.0);
        } else if (arg == "--size") {
            const std::string text = take();
            const size_t x = text.find('x');
            if (x == std::string::npos) {
                throw HostError("--size takes WIDTHxHEIGHT, not \"" + text + "\"");
            }
            o.width = Whole(arg + " width", text.substr(0, x), 1, 4096);
            o.height = Whole(arg + " height", text.substr(x + 1), 1, 4096);
        } else if (arg == "-o" || arg == "--out") {
            o.out = take_name();
        } else if (arg == "--series") {
            o.series = take_name();
        } else if (arg == "--sheet") {
            o.sheet = take_name();
        } else if (arg == "--video") {
            o.video = take_name();
        } else if (arg == "--moments") {
            o.moments = Whole(arg, take(), 1, 64);
        } else if (arg == "-s" || arg == "--set") {
            o.sets.push_back(Split(arg, take()));
        } else if (arg == "--magnify") {
            o.magnify = take();
        } else if (arg == "--color" || arg == "--colour") {
            o.colours.push_back(Split(arg, take()));
        } else if (arg == "--blend") {
            o.blends.push_back(Split(arg, take()));
        } else if (arg == "--shading") {
            o.shading = take();
        } else {
            throw HostError("unknown option \"" + std::string(argv[i]) + "\" (try --help)");
        }
    }
    if (o.sample_rate && !o.input.empty()) {
        throw HostError("--rate sets the demo signal's rate; a file plays at its own rate");
    }
    return o;
}

std::vector<std::pair<int32_t, uint32_t>> ResolveSettings(const Options& o,
                                                          const std::vector<PlugInfo>& plugs) {
    std::vector<std::pair<int32_t, uint32_t>> settings;
    for (const NamedSetting& named : NamedSettings(o)) {
        settings.push_back(Resolve(plugs, named));
    }
    // A display switched off shows nothing, so the preview switches it on unless told; a module
    // without such a plug or choice has nothing to switch.
    for (const PlugInfo& plug : plugs) {
        if (plug.name != kActivePlug) {
            continue;
        }
        for (const auto& setting : settings) {
            if (setting.first == plug.index) {
                return settings;
            }
        }
        std::string ignored;
        if (const auto on = sehost::ParsePlugValue(plug, kActiveOn, ignored)) {
            settings.insert(settings.begin(), {plug.index, *on});
        }
        break;
    }
    return settings;
}

std::vector<TimedChange> ResolveChanges(const Options& o, const std::vector<PlugInfo>& plugs,
                                        double sample_rate) {
    std::vector<TimedChange> changes;
    for (const TimedValue& change : o.changes) {
        const auto resolved = Resolve(plugs, {"", change.setting});
        changes.push_back(
            {std::llround(change.seconds * sample_rate), resolved.first, resolved.second});
    }
    std::stable_sort(
        changes.begin(), changes.end(),
        [](const TimedChange& a, const TimedChange& b) { return a.sample < b.sample; });
    return changes;
}

std::string Usage(const std::string& program) {
    return "Usage: " + program +
           " [options]\n"
           "\n"
           "Plays a signal through one instance of a display module and writes what its view\n"
           "shows as PNG pictures or a video.\n"
           "\n"
           "Input:\n"
#ifdef _WIN32
           "  -i, --input FILE      not in this build: it has no sound file reader and plays\n"
           "                        the built-in demo signal only (6 s: a steady wave,\n"
           "                        silence, decaying hits, silence, a swell)\n"
#else
           "  -i, --input FILE      a sound file (WAV, FLAC, Ogg, ...), read in pieces;\n"
           "                        default: the built-in demo signal (6 s: a steady wave,\n"
           "                        silence, decaying hits, silence, a swell)\n"
#endif
           "  --channel N|mix       the file's channel to show, from 1; default: mix\n"
           "  --duration SECONDS    play this long (default: the file, or 6 s of demo)\n"
           "  --rate HZ             the demo signal's sample rate, 8000 to 384000 (default\n"
           "                        48000); a file plays at its own rate\n"
           "\n"
           "Host:\n"
           "  --module FILE         the module library (default: " MODULE_FILE_NAME
           " beside this program,\n"
           "                        else the installed plug-in's)\n"
           "  --block N             samples per audio block, 1 to 8192 (default 256)\n"
           "  --fps N               paints per second of audio time (default 30)\n"
           "  --size WxH            the view in pixels, up to 4096 each (default 400x100)\n"
           "\n"
           "Plugs (names and choices as the module lists them; see --list):\n"
           "  -s, --set NAME=VALUE  set a plug: a choice name, or a number\n"
           "  --magnify X           the magnify plug\n"
           "  --color GROUP=#RRGGBB the plugs \"GROUP Red\", \"GROUP Green\", \"GROUP Blue\"\n"
           "  --blend GROUP=N       the plug \"GROUP Alpha...\", 0 to 255\n"
           "  --shading X,Y         the shading percentages, 0 to 100 each\n"
           "  --list                list the plugs, their types, choices and start values\n"
           "  A plug named \"Active\" with a choice \"ON\" is switched ON unless you set it.\n"
           "  Settings apply in this order: magnify, colours, blends, shading, then --set.\n"
           "  --at SECONDS:NAME=VALUE  set a plug once the signal has played that long\n"
           "\n"
           "Output (default: --out preview.png):\n"
           "  -o, --out FILE        the last paint\n"
           "  --series PREFIX       every paint, as PREFIX00001.png, PREFIX00002.png, ...\n"
           "  --sheet FILE          a contact sheet: the view at several moments, stacked\n"
           "  --moments N           moments on the sheet, evenly spread, 1 to 64 (default 4)\n"
           "  --video FILE          every paint tick as a frame, --fps frames a second, made by\n"
           "                        the ffmpeg program: .mp4 (H.264, AAC sound), .webm (VP9,\n"
           "                        Opus sound), .mkv (lossless FFV1, FLAC sound), or silent\n"
           "                        animated .gif or lossless .webp; the sound is the signal\n"
           "                        played. Frame N shows the view at N / fps seconds\n"
           "  --log FILE            a line for every message, notification, plug change,\n"
           "                        redraw request and paint that the host relays, with the\n"
           "                        sample clock and a digest of each message's bytes\n"
           "  -q, --quiet           no progress line\n"
           "  -h, --help            this text\n"
           "  --version             the version\n"
           "\n"
           "Examples:\n"
           "  " +
           program +
           " --set \"Display Type=Sample Sync\" -o sync.png\n"
           "  " +
           program +
           " --set \"Display Type=10ms\" --set GUI_FX_Mode=Solid+Smooth \\\n"
           "      --color Background=#102040 --color Waveform=#80FFC0 --shading 100,50\n"
           "  " +
           program +
           " -i song.flac --channel 1 --set \"Display Type=20ms\" \\\n"
           "      --sheet song.png --moments 8 --size 799x150\n"
           "  " +
           program +
           " --set Active=HOLD --duration 2 -o held.png\n"
           "\n"
           "Exit status: 0 on success, 1 when the module or input fails, 2 on a usage error.\n";
}

} // namespace preview
