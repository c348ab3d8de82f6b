// The plug-in in a lilv host against the reference host: the same signal and settings through
// wavepreview --log and through the plug-in give the same messages and replies, line for line;
// and a stereo file's mix in the preview gives what the stereo plug-in sends for its two channels.
// The lilv host cuts its blocks where the reference host does (block size, paint ticks, timed
// changes) and answers every frame at once, as the module's view does.
#include "LilvRig.h"

#include "Instance.h"
#include "ModuleLibrary.h"
#include "Options.h"
#include "Signal.h"
#include "TempPath.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace {

std::string Line(int64_t clock, const char* kind, int32_t index, int32_t value, uint32_t digest) {
    char text[96];
    std::snprintf(text, sizeof text, "%lld %s %d %d %08x", static_cast<long long>(clock), kind,
                  index, value, digest);
    return text;
}

uint32_t Digest(const std::vector<uint8_t>& bytes) {
    uint32_t h = 2166136261u;
    for (uint8_t b : bytes) {
        h = (h ^ b) * 16777619u;
    }
    return h;
}

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// The reference host's receive and notify lines for these options.
std::vector<std::string> ReferenceLog(const std::vector<std::string>& args) {
    const std::string log_path = lv2test::TempPath("reference.log");
    const std::string png_path = lv2test::TempPath("reference.png");
    std::string command =
        Quote(WAVEPREVIEW_PATH) + " --quiet --log " + Quote(log_path) + " -o " + Quote(png_path);
    for (const std::string& a : args) {
        command += " " + Quote(a);
    }
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "failed: " << command;
        return {};
    }
    std::vector<std::string> lines;
    std::ifstream log(log_path);
    for (std::string line; std::getline(log, line);) {
        if (line.find(" receive ") != std::string::npos ||
            line.find(" notify ") != std::string::npos) {
            lines.push_back(line);
        }
    }
    std::remove(log_path.c_str());
    std::remove(png_path.c_str());
    return lines;
}

// The same run through the plug-in.
std::vector<std::string> PluginLog(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"lv2_log"};
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    const preview::Options options =
        preview::ParseOptions(static_cast<int>(argv.size()), argv.data());
    // A file's channels go to the stereo plug-in's two inputs, which shows their mix by default.
    const bool stereo = !options.input.empty();
    std::unique_ptr<preview::Signal> signal, right;
    if (stereo) {
        signal = preview::OpenSoundFile(options.input, 1, -1);
        right = preview::OpenSoundFile(options.input, 2, -1);
    } else {
        const float rate = options.sample_rate.value_or(48000.0f);
        signal = preview::MakeDemoSignal(rate, std::llround(options.duration.value_or(6.0) * rate));
    }
    const float rate = signal->SampleRate();
    auto library = sehost::ModuleLibrary::Load(std::string(lv2test::BundleDir()) + "/Module.so");
    sehost::Instance table(*library, sehost::InstanceSettings{});
    const std::vector<sehost::PlugInfo>& plugs = table.Plugs();
    const lv2proto::PortLayout layout = lv2proto::LayoutPorts(plugs);

    lv2test::LilvRig::Options rig_options;
    rig_options.sample_rate = rate;
    rig_options.stereo = stereo;
    lv2test::LilvRig rig(rig_options);
    const auto set = [&](int32_t plug, uint32_t bits) {
        for (const lv2proto::ControlPort& port : layout.controls) {
            if (port.plug == plug) {
                rig.Set(port.symbol, lv2proto::BitsPortValue(plugs[plug], bits));
            }
        }
    };
    // As the preview does: Active goes ON unless the settings say otherwise.
    const sehost::PlugInfo* active = table.FindPlug("Active");
    set(active->index, 1);
    for (const auto& setting : preview::ResolveSettings(options, plugs)) {
        set(setting.first, setting.second);
    }
    const std::vector<preview::TimedChange> changes = preview::ResolveChanges(options, plugs, rate);

    const int64_t block = options.block_size;
    const auto tick = [&](int64_t frame) {
        return static_cast<int64_t>(
            std::floor(static_cast<double>(frame) * rate / options.frames_per_second));
    };
    std::vector<std::string> lines;
    std::vector<float> buffer(static_cast<size_t>(block)), right_buffer(buffer.size());
    int64_t clock = 0;
    int64_t frame = 0;
    size_t next_change = 0;
    for (;;) {
        while (next_change < changes.size() && clock >= changes[next_change].sample) {
            set(changes[next_change].plug, changes[next_change].bits);
            ++next_change;
        }
        int64_t want = block;
        if (next_change < changes.size()) {
            want = std::min(want, changes[next_change].sample - clock);
        }
        const int64_t got = signal->Read(buffer.data(), want);
        if (got == 0) {
            break;
        }
        if (stereo) {
            EXPECT_EQ(right->Read(right_buffer.data(), got), got);
        }
        while (clock >= tick(frame)) {
            ++frame;
        }
        for (int64_t done = 0; done < got;) {
            const int64_t n = std::min({block, got - done, tick(frame) - clock});
            rig.Run(buffer.data() + done, static_cast<uint32_t>(n),
                    stereo ? right_buffer.data() + done : nullptr);
            clock += n;
            done += n;
            int replies = 0;
            for (const lv2test::Message& m : rig.Messages()) {
                lines.push_back(m.frame
                                    ? Line(clock, "receive", static_cast<int32_t>(m.data.size()), 0,
                                           Digest(m.data))
                                    : Line(clock, "receive", 0, m.value, 0));
                replies += m.frame ? 1 : 0;
            }
            rig.Messages().clear();
            for (int i = 0; i < replies; ++i) {
                lines.push_back(Line(clock, "notify", 0, -1, 0));
                rig.QueueFrameRead(-1);
            }
            while (clock >= tick(frame)) {
                ++frame;
            }
        }
    }
    EXPECT_EQ(rig.Dropped(), 0);
    return lines;
}

struct Scenario {
    const char* name;
    std::vector<std::string> args; // wavepreview's options
    bool stereo_file = false;      // played from a stereo file of the demo signal and a sweep
};

// Three seconds at 48 kHz: the demo signal on the left, the one made for 30 kHz on the right.
std::string WriteStereoFile() {
    const std::string path = lv2test::TempPath("stereo.wav");
    const int64_t frames = 3 * 48000;
    std::vector<float> left(frames), right(frames), samples;
    preview::MakeDemoSignal(48000.0f, frames)->Read(left.data(), frames);
    preview::MakeDemoSignal(30000.0f, frames)->Read(right.data(), frames);
    for (int64_t i = 0; i < frames; ++i) {
        samples.insert(samples.end(), {left[i], 0.6f * right[i]});
    }
    SF_INFO info{0, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_EQ(sf_writef_float(file, samples.data(), frames), frames);
    sf_close(file);
    return path;
}

void PrintTo(const Scenario& scenario, std::ostream* os) {
    *os << scenario.name;
}

class LogMatch : public testing::TestWithParam<Scenario> {};

TEST_P(LogMatch, PluginSendsWhatTheReferenceHostRelays) {
    std::vector<std::string> args = GetParam().args;
    const std::string file = GetParam().stereo_file ? WriteStereoFile() : "";
    if (!file.empty()) {
        args.insert(args.begin(), {"-i", file});
    }
    const std::vector<std::string> reference = ReferenceLog(args);
    const std::vector<std::string> plugin = PluginLog(args);
    std::remove(file.c_str());
    ASSERT_GT(reference.size(), 3u);
    for (size_t i = 0; i < std::min(reference.size(), plugin.size()); ++i) {
        ASSERT_EQ(plugin[i], reference[i]) << "line " << i + 1;
    }
    EXPECT_EQ(plugin.size(), reference.size());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LogMatch,
    testing::Values(
        Scenario{"Peaks5ms", {"--duration", "3", "--set", "Display Type=5ms"}},
        Scenario{"SampleSync", {"--duration", "3", "--set", "Display Type=Sample Sync"}},
        Scenario{"SampleThenHold",
                 {"--duration", "3", "--set", "Display Type=Sample", "--at", "1:Active=HOLD"}},
        Scenario{"PeriodChangesAt44100",
                 {"--duration", "4", "--rate", "44100", "--block", "100", "--fps", "24", "--set",
                  "Display Type=200ms", "--at", "1.5:Display Type=1ms", "--at", "3:Active=OFF"}},
        Scenario{"StereoMix",
                 {"--block", "300", "--set", "Display Type=Sample", "--at", "2:Display Type=2ms"},
                 true}),
    [](const testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

} // namespace
