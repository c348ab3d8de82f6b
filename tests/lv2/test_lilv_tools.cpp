// The bundle in lilv's own tools: serdi parses its Turtle, lv2ls lists the plug-ins, lv2info shows
// their ports as the module's table has them, and lv2apply plays a WAV file through them
// unchanged, bit for bit, for several control settings: a mono file, and a stereo one through
// the stereo plug-in.
#include "Instance.h"
#include "ModuleLibrary.h"
#include "Protocol.h"
#include "TempPath.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

// Runs a command with LV2_PATH holding the bundle alone (or the given path); returns what it
// printed (stdout).
std::string Shell(const std::string& command, int* status = nullptr,
                  const std::string& lv2_path = STRIP_VIEWER_LV2_PATH) {
    setenv("LV2_PATH", lv2_path.c_str(), 1);
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[4096];
    for (size_t n; pipe != nullptr && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        out.append(chunk, n);
    }
    const int result = pipe != nullptr ? pclose(pipe) : -1;
    if (status != nullptr) {
        *status = result;
    }
    return out;
}

struct PortInfo {
    std::string symbol, name;
    double minimum = NAN, maximum = NAN, fallback = NAN;
    std::map<int, std::string> points;
};

// lv2info's port blocks by index.
std::map<int, PortInfo> ParsePorts(const std::string& text) {
    std::map<int, PortInfo> ports;
    PortInfo* port = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        line.erase(0, line.find_first_not_of(" \t"));
        int index = 0;
        char label[64];
        double number = 0;
        if (std::sscanf(line.c_str(), "Port %d:", &index) == 1) {
            port = &ports[index];
        } else if (port == nullptr) {
            continue;
        } else if (line.rfind("Symbol:", 0) == 0) {
            port->symbol = line.substr(line.find_first_not_of(" ", 7));
        } else if (line.rfind("Name:", 0) == 0) {
            port->name = line.substr(line.find_first_not_of(" ", 5));
        } else if (std::sscanf(line.c_str(), "Minimum: %lf", &number) == 1) {
            port->minimum = number;
        } else if (std::sscanf(line.c_str(), "Maximum: %lf", &number) == 1) {
            port->maximum = number;
        } else if (std::sscanf(line.c_str(), "Default: %lf", &number) == 1) {
            port->fallback = number;
        } else if (std::sscanf(line.c_str(), "%d = \"%63[^\"]\"", &index, label) == 2) {
            port->points[index] = label;
        }
    }
    return ports;
}

TEST(LilvTools, TurtleParsesAndThePluginIsListed) {
    int status = 0;
    for (const char* file : {"manifest.ttl", "strip-viewer.ttl"}) {
        const std::string triples = Shell(std::string("serdi -i turtle -o ntriples ") +
                                              STRIP_VIEWER_BUNDLE_DIR + "/" + file,
                                          &status);
        EXPECT_EQ(status, 0) << file;
        EXPECT_NE(triples.find(lv2proto::kPluginUri), std::string::npos) << file;
    }
    EXPECT_EQ(Shell("lv2ls 2>&1", &status),
              std::string(lv2proto::kPluginUri) + "\n" + lv2proto::kStereoPluginUri + "\n");
    EXPECT_EQ(status, 0);

    // Hosts show a maker, a licence and the project's version (a part it leaves out is 0).
    const std::string triples = Shell(std::string("serdi -i turtle -o ntriples ") +
                                      STRIP_VIEWER_BUNDLE_DIR + "/strip-viewer.ttl");
    unsigned version[3] = {0, 0, 0};
    std::sscanf(PROJECT_VERSION, "%u.%u.%u", &version[0], &version[1], &version[2]);
    const auto has = [&triples](const std::string& predicate, const std::string& object) {
        return triples.find("<urn:strip-viewer:display> <" + predicate + "> " + object) !=
               std::string::npos;
    };
    const std::string lv2 = "http://lv2plug.in/ns/lv2core#",
                      integer = "\"^^<http://www.w3.org/2001/XMLSchema#integer>";
    EXPECT_TRUE(has(lv2 + "minorVersion", "\"" + std::to_string(version[1]) + integer)) << triples;
    EXPECT_TRUE(has(lv2 + "microVersion", "\"" + std::to_string(version[2]) + integer));
    EXPECT_TRUE(
        has("http://usefulinc.com/ns/doap#license", "<http://opensource.org/licenses/MIT>"));
    EXPECT_NE(Shell(std::string("lv2info ") + lv2proto::kPluginUri)
                  .find("Author:            Strip Viewer developers\n"),
              std::string::npos);
}

// The LV2 project's validator checks the Turtle against the installed specifications: every
// class, range and domain, and that each property is defined.
TEST(LilvTools, TheValidatorFindsNoErrorOrWarning) {
    int status = 0;
    const std::string dir = std::string(STRIP_VIEWER_BUNDLE_DIR) + "/";
    const std::string report =
        Shell("lv2_validate " + dir + "manifest.ttl " + dir + "strip-viewer.ttl 2>&1", &status);
    ASSERT_EQ(status, 0) << report << "(scripts/setup installs lv2-dev and sordi)";
    EXPECT_NE(report.find("Found 0 errors"), std::string::npos) << report;
    for (const char* problem : {"\nerror", "\nwarning"}) {
        EXPECT_EQ(("\n" + report).find(problem), std::string::npos) << report;
    }
}

TEST(LilvTools, InfoShowsThePortsOfThePlugTable) {
    int status = 0;
    const auto ports = ParsePorts(Shell(std::string("lv2info ") + lv2proto::kPluginUri, &status));
    ASSERT_EQ(status, 0);

    auto library = sehost::ModuleLibrary::Load(std::string(STRIP_VIEWER_BUNDLE_DIR) + "/Module.so");
    sehost::Instance fresh(*library, sehost::InstanceSettings{});
    const auto& plugs = fresh.Plugs();
    ASSERT_EQ(ports.size(), lv2proto::kFirstControlPort + plugs.size() - 1);
    EXPECT_EQ(ports.at(0).name, "Audio_In");
    EXPECT_EQ(ports.at(1).symbol, "audio_out");
    EXPECT_EQ(ports.at(2).symbol, "control");
    EXPECT_EQ(ports.at(3).symbol, "notify");
    for (size_t i = 1; i < plugs.size(); ++i) {
        const PortInfo& port = ports.at(static_cast<int>(lv2proto::kFirstControlPort + i - 1));
        EXPECT_EQ(port.name, plugs[i].name);
        EXPECT_EQ(port.symbol, lv2proto::PortSymbol(plugs[i].name));
        std::map<int, std::string> choices;
        for (const sehost::Choice& c : plugs[i].choices) {
            choices[c.value] = c.name;
        }
        if (!choices.empty()) {
            EXPECT_EQ(port.points, choices) << port.name;
        }
    }
    // What a person sees in a host's generic controls.
    const auto by_symbol = [&ports](const std::string& symbol) {
        for (const auto& entry : ports) {
            if (entry.second.symbol == symbol) {
                return entry.second;
            }
        }
        ADD_FAILURE() << "no port " << symbol;
        return PortInfo{};
    };
    const PortInfo display = by_symbol("display_type");
    EXPECT_EQ(display.points.at(-1), "Sample Sync");
    EXPECT_EQ(display.points.at(10), "200ms");
    EXPECT_EQ(display.fallback, 0);
    EXPECT_EQ(by_symbol("active").points,
              (std::map<int, std::string>{{0, "OFF"}, {1, "ON"}, {2, "HOLD"}}));
    EXPECT_EQ(by_symbol("active").fallback, 1); // ON, where the module itself starts OFF
    for (const sehost::PlugInfo& plug : plugs) {
        if (plug.name == "Active") {
            EXPECT_EQ(fresh.PlugValue(plug.index), 0u);
        }
    }
    const PortInfo background = by_symbol("background_blue");
    EXPECT_EQ(background.minimum, -1);
    EXPECT_EQ(background.maximum, 255);
    EXPECT_EQ(background.points.at(-1), "No background");
    EXPECT_EQ(by_symbol("waveform_alpha_blend").maximum, 255);
    // A fresh view's first-use values.
    EXPECT_EQ(by_symbol("waveform_red").fallback, 192);
    EXPECT_EQ(by_symbol("display_y_magnify").fallback, 1);
    const PortInfo shading = by_symbol("shading_x");
    EXPECT_EQ(shading.maximum, 100);
    EXPECT_EQ(shading.fallback, 100);
    EXPECT_EQ(by_symbol("gui_fx_mode").points.at(3), "Solid+Smooth");
}

// A float WAV with awkward values: denormals, full scale, beyond it, NaN and infinities (on
// both channels of a stereo one).
void WriteWav(const std::string& path, std::vector<float>& samples, int channels = 1) {
    samples.resize(48000 * static_cast<size_t>(channels));
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 1.3f * std::sin(static_cast<float>(i) * 0.021f) * std::exp(-0.00003f * i);
    }
    samples[100] = std::numeric_limits<float>::denorm_min();
    samples[200] = std::numeric_limits<float>::quiet_NaN();
    samples[300] = std::numeric_limits<float>::infinity();
    samples[301] = -std::numeric_limits<float>::infinity();
    samples[400] = -1.0f;
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    ASSERT_EQ(sf_write_float(file, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

std::vector<float> ReadWav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return {};
    }
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
    sf_read_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return samples;
}

void ExpectSameSamples(const std::string& file, const std::vector<float>& input) {
    const std::vector<float> output = ReadWav(file);
    ASSERT_EQ(output.size(), input.size());
    EXPECT_EQ(std::memcmp(output.data(), input.data(), input.size() * sizeof(float)), 0);
}

TEST(LilvTools, ApplyPassesAudioThroughBitForBit) {
    const std::string in = lv2test::TempPath("apply_in.wav");
    const std::string out = lv2test::TempPath("apply_out.wav");
    const char* settings[] = {
        "",
        "-c active 1 -c display_type -1",
        "-c active 1 -c display_type 1",
        "-c active 2 -c display_type 10 -c display_y_magnify 3",
        "-c active 1 -c display_type 99 -c background_red -5",
    };
    for (const lv2proto::PluginKind& kind : lv2proto::kPluginKinds) {
        std::vector<float> input;
        WriteWav(in, input, kind.stereo ? 2 : 1);
        for (const std::string setting : settings) {
            SCOPED_TRACE(std::string(kind.uri) + " " + setting);
            std::remove(out.c_str());
            int status = 0;
            Shell("lv2apply " + setting + " -i " + in + " -o " + out + " '" + kind.uri +
                      "' 2>/dev/null",
                  &status);
            ASSERT_EQ(status, 0);
            ExpectSameSamples(out, input);
        }
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST(LilvTools, TheInstalledBundleWorksWhereItIsPut) {
    const std::string prefix = lv2test::TempPath("prefix");
    const std::string in = lv2test::TempPath("installed_in.wav");
    const std::string out = lv2test::TempPath("installed_out.wav");
    int status = 0;
    Shell("rm -rf '" + prefix +
              "' && '" CMAKE_COMMAND "' --install '" BUILD_DIR "' --component lv2 --prefix '" +
              prefix + "' >/dev/null",
          &status);
    ASSERT_EQ(status, 0);
    const std::string lv2_path = prefix + "/lib/lv2";
    const std::string info =
        Shell(std::string("lv2info ") + lv2proto::kPluginUri, &status, lv2_path);
    EXPECT_NE(info.find("Bundle:            file://" + lv2_path + "/strip-viewer.lv2/"),
              std::string::npos)
        << info;
    std::vector<float> input;
    WriteWav(in, input);
    Shell("lv2apply -c active 1 -i " + in + " -o " + out + " " + lv2proto::kPluginUri +
              " 2>/dev/null",
          &status, lv2_path);
    EXPECT_EQ(status, 0);
    ExpectSameSamples(out, input);
    Shell("rm -rf '" + prefix + "' '" + in + "' '" + out + "'");
}

} // namespace
