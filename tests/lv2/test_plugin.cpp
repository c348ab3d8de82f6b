// The plug-in's audio half in a host built on lilv: its audio path, its answers to bad control
// values and bad atoms, a notify port too small for its messages, hosts that lack features.
#include "LilvRig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using lv2test::LilvRig;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<float> Sine(size_t count) {
    std::vector<float> signal(count);
    for (size_t i = 0; i < count; ++i) {
        signal[i] = 0.8f * std::sin(static_cast<float>(i) * 0.0131f);
    }
    return signal;
}

// Runs one second at 48 kHz in blocks, answering every frame as a view does, and returns the
// messages that came out. The stereo plug-in gets the sine on the left and right on the right.
std::vector<lv2test::Message> RunSecond(LilvRig& rig, uint32_t block = 256,
                                        const std::vector<float>& signal = Sine(48000),
                                        const std::vector<float>* right = nullptr) {
    rig.Messages().clear();
    for (size_t start = 0; start < signal.size(); start += block) {
        const size_t before = rig.Messages().size();
        const auto count = static_cast<uint32_t>(std::min<size_t>(block, signal.size() - start));
        rig.Run(signal.data() + start, count, right != nullptr ? right->data() + start : nullptr);
        if (right != nullptr) {
            EXPECT_EQ(std::memcmp(rig.Output(0), signal.data() + start, count * sizeof(float)), 0);
            EXPECT_EQ(std::memcmp(rig.Output(1), right->data() + start, count * sizeof(float)), 0);
        }
        for (size_t i = before; i < rig.Messages().size(); ++i) {
            if (rig.Messages()[i].frame) {
                rig.QueueFrameRead();
            }
        }
    }
    return rig.Messages();
}

size_t CountPeaks(const std::vector<lv2test::Message>& messages) {
    size_t peaks = 0;
    for (const auto& m : messages) {
        peaks += m.frame ? 0 : 1;
    }
    return peaks;
}

TEST(DspPlugin, RunAllocatesNothingInAnyMode) {
    LilvRig rig;
    ASSERT_TRUE(rig.Ready()) << rig.LogText();
    rig.Set("active", 1);
    size_t messages = 0;
    for (float type : {-1.0f, 0.0f, 1.0f, 10.0f}) {
        rig.Set("display_type", type);
        for (uint32_t block : {64u, 1024u, 4096u}) {
            messages += RunSecond(rig, block).size();
        }
    }
    rig.Set("active", 2);
    messages += RunSecond(rig).size();
    EXPECT_EQ(rig.RunAllocations(), 0u);
    EXPECT_GT(messages, 1000u);
    EXPECT_EQ(rig.Dropped(), 0);
}

// Inserted with the Turtle's defaults, as a host does, the plug-in shows the signal at once.
TEST(DspPlugin, SendsTheSignalWithTheDefaultsAHostGives) {
    LilvRig rig;
    ASSERT_TRUE(rig.Ready()) << rig.LogText();
    EXPECT_GT(RunSecond(rig).size(), 10u);
}

struct ControlCase {
    float first;
    float second;
    size_t peaks_per_second; // after the second value
    bool frames;             // the second value is a sample mode
};

// Display types as the peaks per second they give (48000 samples): 5ms 200, 1ms 1000, 200ms 5.
TEST(DspPlugin, ControlValuesAreHeldToTheirRangeOrIgnored) {
    const ControlCase cases[] = {
        {3.0f, 2.6f, 200, false},                            // rounds to 5ms
        {3.0f, kNaN, 200, false},                            // ignored: stays at 5ms
        {3.0f, kInf, 5, false},                              // held at the top: 200ms
        {3.0f, 1.0e9f, 5, false}, {3.0f, 0.6f, 1000, false}, // 1ms
        {3.0f, -kInf, 0, true},                              // held at the bottom: Sample Sync
        {3.0f, -7.0f, 0, true},
    };
    for (const ControlCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
        LilvRig rig;
        ASSERT_TRUE(rig.Ready());
        rig.Set("active", 1);
        rig.Set("display_type", c.first);
        RunSecond(rig);
        rig.Set("display_type", c.second);
        const auto messages = RunSecond(rig);
        EXPECT_EQ(CountPeaks(messages), c.peaks_per_second);
        EXPECT_EQ(messages.size() > CountPeaks(messages), c.frames);
    }
    // Active beyond HOLD is HOLD: one message, then the audio half switches itself off.
    LilvRig rig;
    rig.Set("display_type", 10);
    rig.Set("active", 7.5f);
    EXPECT_EQ(RunSecond(rig).size(), 1u);
    rig.Set("active", kNaN);
    EXPECT_EQ(RunSecond(rig).size(), 0u);
}

TEST(DspPlugin, IgnoresUnknownAndMalformedAtoms) {
    LilvRig rig;
    rig.Set("active", 1);
    rig.Set("display_type", 0); // "Sample": a frame, then nothing until the view has read it
    const std::vector<float> signal = Sine(1024);
    rig.Run(signal.data(), 1024);
    ASSERT_EQ(rig.Messages().size(), 1u);
    const int32_t four = 4;
    const auto no_frame_after = [&](const char* what) {
        SCOPED_TRACE(what);
        rig.Messages().clear();
        rig.Run(signal.data(), 1024);
        rig.Run(signal.data(), 1024);
        EXPECT_TRUE(rig.Messages().empty());
    };
    rig.QueueAtom(rig.Map("urn:elsewhere#Thing"), &four, 4);
    rig.QueueAtom(rig.Map(lv2proto::kFrameUri), &four, 4);
    no_frame_after("unknown types");
    rig.QueueAtom(rig.Map(lv2proto::kFrameReadUri), nullptr, 0);
    no_frame_after("a reply without its value");

    // An event whose body claims more than the sequence holds, and a sequence of another type.
    std::vector<uint8_t> raw(64, 0);
    const auto put = [&raw](size_t at, uint32_t v) { std::memcpy(raw.data() + at, &v, 4); };
    put(0, 8 + 16 + 4);                        // atom size: body header + one event
    put(4, rig.Map(LV2_ATOM__Sequence));       // atom type
    put(24, 0xFFFFFFF0u);                      // the event's body size
    put(28, rig.Map(lv2proto::kFrameReadUri)); // its type
    rig.QueueRawSequence(raw);
    no_frame_after("an oversized event");
    put(4, rig.Map(LV2_ATOM__Chunk));
    put(24, 4);
    rig.QueueRawSequence(raw);
    no_frame_after("a chunk instead of a sequence");

    rig.QueueFrameRead();
    rig.Messages().clear();
    rig.Run(signal.data(), 1024);
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_TRUE(rig.Messages()[0].frame);
    EXPECT_EQ(rig.Messages()[0].data.size(), 800u);
}

TEST(DspPlugin, ANotifyPortTooSmallDropsAndCounts) {
    for (uint32_t capacity : {100u, 4u}) {
        SCOPED_TRACE(capacity);
        LilvRig::Options options;
        options.notify_capacity = capacity;
        LilvRig rig(options);
        rig.Set("active", 1);
        rig.Set("display_type", 1); // 1ms: 48 samples a peak, 85 in a 4096-sample block
        const std::vector<float> signal = Sine(4096);
        for (int i = 0; i < 4; ++i) {
            rig.Run(signal.data(), 4096);
            EXPECT_TRUE(rig.NotifyGuardIntact());
        }
        // A peak event takes 24 bytes after the 8-byte sequence header.
        const size_t fit = capacity >= 8 ? (capacity - 8) / 24 : 0;
        EXPECT_EQ(rig.Messages().size(), 4 * fit);
        EXPECT_EQ(rig.Dropped() + static_cast<int64_t>(rig.Messages().size()), 4 * 4096 / 48);
    }
}

TEST(DspPlugin, WithoutAUridMapItSaysSoAndPassesAudioThrough) {
    LilvRig::Options options;
    options.urid_map = false;
    testing::internal::CaptureStderr();
    LilvRig rig(options);
    const std::string said = testing::internal::GetCapturedStderr() + rig.LogText();
    ASSERT_TRUE(rig.Ready());
    EXPECT_NE(said.find("no URID map"), std::string::npos) << said;
    rig.Set("active", 1);
    std::vector<float> signal = Sine(512);
    signal[3] = kNaN;
    signal[4] = -kInf;
    rig.Run(signal.data(), 512);
    EXPECT_EQ(std::memcmp(rig.Output(), signal.data(), 512 * sizeof(float)), 0);
    EXPECT_TRUE(rig.Messages().empty());
    EXPECT_EQ(rig.Dropped(), 0); // the frame is not finished yet
    rig.Run(signal.data(), 512);
    EXPECT_EQ(rig.Dropped(), 1);
}

TEST(DspPlugin, RefusesWithAReasonWhereItCannotWork) {
    LilvRig rig;
    const LV2_Descriptor* descriptor = rig.Descriptor();
    EXPECT_EQ(descriptor->instantiate(descriptor, 48000.0, "/nonexistent/", rig.Features()),
              nullptr);
    EXPECT_NE(rig.LogText().find("module file not found: /nonexistent/Module.so"),
              std::string::npos)
        << rig.LogText();
    EXPECT_EQ(descriptor->instantiate(descriptor, 10.0, lv2test::BundleDir(), rig.Features()),
              nullptr);
    EXPECT_NE(rig.LogText().find("sample rate"), std::string::npos) << rig.LogText();
}

TEST(DspPlugin, RunsWithUnconnectedPortsAndEmptyBlocks) {
    LilvRig rig;
    const LV2_Descriptor* descriptor = rig.Descriptor();
    LV2_Handle handle =
        descriptor->instantiate(descriptor, 48000.0, lv2test::BundleDir(), rig.Features());
    ASSERT_NE(handle, nullptr);
    descriptor->run(handle, 0);
    descriptor->run(handle, 256); // nothing connected at all
    std::vector<float> in = Sine(1024);
    float active = 1.0f;
    descriptor->connect_port(handle, lv2proto::kPortAudioIn, in.data());
    descriptor->connect_port(handle, lv2proto::kFirstControlPort + 1, &active);
    descriptor->run(handle, 0);
    descriptor->run(handle, 1024); // a frame with no notify port: dropped, counted
    const auto* counters =
        static_cast<const lv2proto::Counters*>(descriptor->extension_data(lv2proto::kCountersUri));
    ASSERT_NE(counters, nullptr);
    EXPECT_EQ(counters->dropped(handle), 1);
    descriptor->cleanup(handle);
}

TEST(DspPlugin, InstancesKeepTheirOwnPeriods) {
    LilvRig fast, slow;
    fast.Set("active", 1);
    fast.Set("display_type", 1); // 1ms
    slow.Set("active", 1);
    slow.Set("display_type", 3); // 5ms
    const std::vector<float> signal = Sine(48000);
    for (size_t start = 0; start < signal.size(); start += 480) {
        fast.Run(signal.data() + start, 480);
        slow.Run(signal.data() + start, 480);
    }
    EXPECT_EQ(CountPeaks(fast.Messages()), 1000u);
    EXPECT_EQ(CountPeaks(slow.Messages()), 200u);

    // One rate per process: the module's samples per millisecond come from the instance that
    // started last, so a period chosen after an instance at 96 kHz has started is twice as long.
    LilvRig::Options options;
    options.sample_rate = 96000.0;
    LilvRig other(options);
    fast.Set("display_type", 3); // 5ms
    fast.Messages().clear();
    for (size_t start = 0; start < signal.size(); start += 480) {
        fast.Run(signal.data() + start, 480);
    }
    EXPECT_EQ(CountPeaks(fast.Messages()), 100u);
}

// The stereo plug-in passes both channels through bit for bit however the host wires its
// buffers, allocating nothing, and its display shows what the mono plug-in shows for the chosen
// channel or the mean of both; a NaN choice is ignored and others go to the nearest channel.
TEST(StereoPlugin, PassesBothChannelsAndShowsTheChosenOne) {
    const std::vector<float> left = Sine(48000);
    std::vector<float> right(left.size()), mix(left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        right[i] = i == 9    ? kNaN
                   : i == 10 ? -kInf
                             : 0.4f * std::cos(static_cast<float>(i) * 0.0023f);
        mix[i] = (left[i] + right[i]) / 2.0f;
    }
    const auto shown = [](const std::vector<float>& signal) {
        LilvRig mono;
        mono.Set("display_type", 3); // 5ms peaks
        return RunSecond(mono, 256, signal);
    };
    const std::vector<lv2test::Message> expected[] = {shown(mix), shown(left), shown(right)};
    ASSERT_FALSE(expected[1] == expected[2]);

    using Wiring = LilvRig::Options::Wiring;
    // The mix copies separate outputs on its own pass in runs of up to 1024 pairs, and after the
    // capture in longer ones.
    const struct {
        float channel;
        int shows; // 0 mix, 1 left, 2 right
        Wiring wiring;
        uint32_t block = 256;
    } cases[] = {
        {0, 0, Wiring::kSeparate},    {0, 0, Wiring::kInPlace},
        {0, 0, Wiring::kCrossed},     {1, 1, Wiring::kCrossed},
        {2, 2, Wiring::kInPlace},     {kNaN, 0, Wiring::kSeparate, 1500},
        {7, 2, Wiring::kSeparate},    {-3, 0, Wiring::kSeparate, 100},
        {1.4f, 1, Wiring::kSeparate},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << c.channel << ", wiring "
                                        << static_cast<int>(c.wiring) << ", block " << c.block);
        LilvRig::Options options;
        options.stereo = true;
        options.wiring = c.wiring;
        LilvRig rig(options);
        ASSERT_TRUE(rig.Ready()) << rig.LogText();
        rig.Set("display_type", 3);
        rig.Set("channel", c.channel);
        EXPECT_TRUE(RunSecond(rig, c.block, left, &right) == expected[c.shows]);
        EXPECT_EQ(rig.RunAllocations(), 0u);
    }
}

} // namespace
