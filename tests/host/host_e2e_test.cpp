// The display module run through the reference host, judged by its pictures, and the preview
// command's outcomes.
#include "HostError.h"
#include "Instance.h"
#include "ModuleLibrary.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

using namespace sehost;

namespace {

constexpr float kRate = 48000.0f;
constexpr double kPi = 3.14159265358979323846;

using Picture = std::vector<uint32_t>;

Picture Pixels(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    Picture pixels;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
        pixels.insert(pixels.end(), row, row + w);
    }
    return pixels;
}

// A wave whose period is exactly 400 samples, the same bits every period.
std::vector<float> Periodic(int64_t count, float amplitude = 0.8f) {
    std::vector<float> x(count);
    for (int64_t n = 0; n < count; ++n) {
        const double phase = 2.0 * kPi * static_cast<double>(n % 400) / 400.0;
        x[n] = static_cast<float>(amplitude * (std::sin(phase) + 0.3 * std::sin(3.0 * phase)));
    }
    return x;
}

class Display : public ::testing::Test {
protected:
    void SetUp() override {
        library = ModuleLibrary::Load(DISPLAY_MODULE_PATH);
        settings.sample_rate = kRate;
        settings.block_size = 256;
        settings.width = 200;
        settings.height = 60;
        instance = std::make_unique<Instance>(*library, settings);
    }
    void Set(const std::string& name, const std::string& text) {
        const PlugInfo* plug = instance->FindPlug(name);
        ASSERT_NE(plug, nullptr) << name;
        std::string error;
        const auto bits = ParsePlugValue(*plug, text, error);
        ASSERT_TRUE(bits) << error;
        instance->SetPlug(plug->index, *bits);
    }
    void Run(const std::vector<float>& x) {
        instance->Run(x.data(), static_cast<int64_t>(x.size()));
    }
    void RunSilence(int64_t count) { instance->Run(nullptr, count); }
    // Pixels that differ from the top-left one, which the trace never reaches in these runs.
    size_t Lit(const Picture& p) {
        size_t lit = 0;
        for (uint32_t v : p) {
            lit += v != p[0];
        }
        return lit;
    }
    // The rightmost column with something drawn away from the centre rows.
    int RightmostMark(const Picture& p) {
        const int w = settings.width;
        const int h = settings.height;
        for (int x = w - 1; x >= 0; --x) {
            for (int y = 0; y < h; ++y) {
                if ((y < h / 2 - 2 || y > h / 2 + 2) && p[y * w + x] != p[0]) {
                    return x;
                }
            }
        }
        return -1;
    }

    std::unique_ptr<ModuleLibrary> library;
    InstanceSettings settings;
    std::unique_ptr<Instance> instance;
};

TEST_F(Display, FramesKeepComingAsLongAsAudioRuns) {
    Set("Active", "ON");
    Set("Display Type", "Sample");
    Run(Periodic(static_cast<int64_t>(kRate)));
    const int64_t paints_first = instance->PaintCount();
    const int64_t frames_first = instance->MessagesToView();
    Run(Periodic(static_cast<int64_t>(2 * kRate)));
    // 30 paints a second of audio, and every frame answered so that the next one follows.
    EXPECT_GE(paints_first, 29);
    EXPECT_GE(instance->PaintCount() - paints_first, 59);
    EXPECT_GE(instance->MessagesToView() - frames_first, 2 * frames_first - 2);
    EXPECT_EQ(instance->NotificationsToAudio(), instance->MessagesToView());
}

TEST_F(Display, SyncedSnapshotsOfAPeriodicSignalAreIdentical) {
    Set("Active", "ON");
    Set("Display Type", "Sample Sync");
    std::vector<Picture> pictures;
    instance->OnPaint([&](cairo_surface_t* s, int64_t) { pictures.push_back(Pixels(s)); });
    Run(Periodic(static_cast<int64_t>(kRate)));
    ASSERT_GE(pictures.size(), 10u);
    const Picture& a = pictures[pictures.size() - 2];
    const Picture& b = pictures.back();
    EXPECT_GT(Lit(a), static_cast<size_t>(settings.width)); // a trace, not just a line
    EXPECT_EQ(a, b);
    // Without the trigger the snapshots start anywhere in the period and differ.
    Set("Display Type", "Sample");
    pictures.clear();
    Run(Periodic(static_cast<int64_t>(kRate / 2)));
    ASSERT_GE(pictures.size(), 3u);
    bool differ = false;
    for (size_t k = 1; k < pictures.size(); ++k) {
        differ = differ || pictures[k] != pictures[k - 1];
    }
    EXPECT_TRUE(differ);
}

TEST_F(Display, PeakPictureMovesLeftAsTimePasses) {
    Set("Active", "ON");
    Set("Display Type", "10ms");
    RunSilence(static_cast<int64_t>(kRate / 2));
    Run(Periodic(static_cast<int64_t>(kRate / 20))); // a 50 ms burst
    // Painted now, not at the last tick, so that the two moments lie exactly 250 ms apart.
    RunSilence(static_cast<int64_t>(kRate / 4));
    instance->Paint();
    const int first = RightmostMark(Pixels(instance->Surface()));
    RunSilence(static_cast<int64_t>(kRate / 4));
    instance->Paint();
    const int second = RightmostMark(Pixels(instance->Surface()));
    ASSERT_GE(second, 0) << "the burst scrolled out of view";
    // 250 ms at 10 ms a column: 25 columns further left.
    EXPECT_NEAR(first - second, 25, 1);
}

TEST_F(Display, HoldFreezesThePictureAndOffClearsIt) {
    Set("Active", "ON");
    Set("Display Type", "10ms");
    Run(Periodic(static_cast<int64_t>(kRate)));
    Set("Active", "HOLD");
    Run(Periodic(static_cast<int64_t>(kRate / 10)));
    instance->Paint();
    const Picture held = Pixels(instance->Surface());
    EXPECT_GT(Lit(held), static_cast<size_t>(settings.width));
    Run(Periodic(static_cast<int64_t>(kRate), 0.2f)); // quieter: would look different
    instance->Paint();
    EXPECT_EQ(Pixels(instance->Surface()), held);

    Set("Active", "OFF");
    Run(Periodic(static_cast<int64_t>(kRate / 10)));
    EXPECT_EQ(Lit(Pixels(instance->Surface())), 0u);
}

TEST_F(Display, TheHostLibraryNamesNoPlugOfTheModule) {
    std::string sources;
    for (const char* file : {"Instance.cpp", "Instance.h", "PlugTable.cpp", "PlugTable.h",
                             "ModuleLibrary.cpp", "ModuleLibrary.h", "library_posix.cpp"}) {
        std::ifstream in(std::string(HOST_SOURCE_DIR) + "/" + file);
        ASSERT_TRUE(in) << file;
        sources.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_FALSE(instance->Plugs().empty());
    for (const PlugInfo& plug : instance->Plugs()) {
        EXPECT_EQ(sources.find(plug.name), std::string::npos) << plug.name;
    }
}

struct Outcome {
    int status;
    std::string output;
};

Outcome Preview(const std::string& arguments) {
    const std::string command = std::string(WAVEPREVIEW_PATH) + " -q " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    Outcome outcome{-1, ""};
    if (pipe == nullptr) {
        return outcome;
    }
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        outcome.output.append(buffer, n);
    }
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Preview, TheSameRunTwiceGivesTheSameBytes) {
    const std::string dir = testing::TempDir();
    const std::string args = "--duration 2 --size 160x48 --set \"Display Type=5ms\" "
                             "--set GUI_FX_Mode=Solid+Smooth --shading 60,40 --blend Shading=128 "
                             "--color Background=#203040 --sheet ";
    ASSERT_EQ(Preview(args + dir + "/same_a.png -o " + dir + "/last_a.png").status, 0);
    ASSERT_EQ(Preview(args + dir + "/same_b.png -o " + dir + "/last_b.png").status, 0);
    const std::string a = FileBytes(dir + "/same_a.png");
    EXPECT_GT(a.size(), 100u);
    EXPECT_EQ(a, FileBytes(dir + "/same_b.png"));
    EXPECT_EQ(FileBytes(dir + "/last_a.png"), FileBytes(dir + "/last_b.png"));
}

TEST(Preview, TellsItsVersion) {
    const Outcome version = Preview("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "wavepreview " WAVEFORM_VERSION "\n");
}

TEST(Preview, RefusesBadInputWithAMessage) {
    const Outcome missing = Preview("-i /nonexistent/sound.wav -o /dev/null");
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.output.find("not found: /nonexistent/sound.wav"), std::string::npos)
        << missing.output;

    const std::string text = testing::TempDir() + "/not_sound.wav";
    std::ofstream(text) << "not a sound\n";
    const Outcome unreadable = Preview("-i " + text + " -o /dev/null");
    EXPECT_NE(unreadable.status, 0);
    EXPECT_NE(unreadable.output.find("cannot read audio file"), std::string::npos)
        << unreadable.output;

    const Outcome choice = Preview("--set \"Display Type=7ms\" -o /dev/null");
    EXPECT_NE(choice.status, 0);
    EXPECT_NE(choice.output.find("Sample Sync, Sample, 1ms"), std::string::npos) << choice.output;

    const Outcome plug = Preview("--set \"Colour=1\" -o /dev/null");
    EXPECT_NE(plug.status, 0);
    EXPECT_NE(plug.output.find("no plug \"Colour\""), std::string::npos) << plug.output;

    const Outcome option = Preview("--frobnicate");
    EXPECT_NE(option.status, 0);
    EXPECT_NE(option.output.find("unknown option"), std::string::npos) << option.output;

    const std::pair<const char*, const char*> ranges[] = {
        {"--blend Waveform=300", "between 0 and 255, not 300"},
        {"--size 0x10", "between 1 and 4096, not 0"},
        {"--fps 0.01", "between 0.1 and 1000, not 0.01"},
    };
    for (const auto& [arguments, bounds] : ranges) {
        const Outcome range = Preview(std::string(arguments) + " -o /dev/null");
        EXPECT_EQ(range.status, 2) << arguments;
        EXPECT_NE(range.output.find(bounds), std::string::npos) << range.output;
    }

    // An empty name must not fall back to writing preview.png.
    for (const char* option : {"-o", "--video", "--series"}) {
        const Outcome empty = Preview(std::string(option) + " ''");
        EXPECT_EQ(empty.status, 2) << option;
        EXPECT_NE(empty.output.find("needs a file name"), std::string::npos) << empty.output;
    }

    const Outcome module = Preview("--module /nonexistent/Module.so");
    EXPECT_NE(module.status, 0);
    EXPECT_NE(module.output.find("module file not found"), std::string::npos) << module.output;
}

// A mono 16-bit WAV file of the periodic wave (written on a little-endian machine).
void WriteWave(const std::string& path, int64_t count, uint32_t rate) {
    std::vector<int16_t> samples;
    for (float x : Periodic(count)) {
        samples.push_back(static_cast<int16_t>(std::lround(x * 32000.0f)));
    }
    const uint32_t data = static_cast<uint32_t>(2 * count);
    // "RIFF", "WAVE", "fmt " for PCM, mono, 16 bits, then "data".
    const uint32_t header[] = {0x46464952u, 36 + data, 0x45564157u, 0x20746d66u, 16,  0x00010001u,
                               rate,        2 * rate,  0x00100002u, 0x61746164u, data};
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    out.write(reinterpret_cast<const char*>(samples.data()), data);
}

TEST(Preview, ADurationPlaysTheStartOfAFileAsAShorterFileWould) {
    const std::string dir = testing::TempDir();
    WriteWave(dir + "/long.wav", 16000, 8000);
    WriteWave(dir + "/short.wav", 6000, 8000);
    const std::string args = "--set \"Display Type=Sample\" -o /dev/null --log ";
    ASSERT_EQ(Preview("-i " + dir + "/long.wav --duration 0.75 " + args + dir + "/cut.log").status,
              0);
    ASSERT_EQ(Preview("-i " + dir + "/short.wav " + args + dir + "/whole.log").status, 0);
    const std::string cut = FileBytes(dir + "/cut.log");
    EXPECT_NE(cut.find(" receive 800 "), std::string::npos) << cut;
    EXPECT_EQ(cut, FileBytes(dir + "/whole.log"));
}

TEST(Preview, ConvenienceOptionsNameTheirPlugsWhenTheModuleLacksThem) {
    const std::string module = std::string("--module ") + TEST_MODULE_PATH + " -o /dev/null ";
    const std::pair<const char*, const char*> cases[] = {
        {"--magnify 2", "--magnify: the module has no plug \"Display Y Magnify\""},
        {"--color Colour=#102030", "--color Colour: the module has no plug \"Colour Red\""},
        {"--blend Colour=9", "--blend Colour: the module has no plug \"Colour Alpha (blend)\""},
        {"--shading 10,20", "--shading: the module has no plug \"Shading X%\""},
    };
    for (const auto& [option, message] : cases) {
        const Outcome outcome = Preview(module + option);
        EXPECT_EQ(outcome.status, 2) << option;
        EXPECT_NE(outcome.output.find(std::string(message) + "; its plugs are \"Level\""),
                  std::string::npos)
            << outcome.output;
    }
}

} // namespace
