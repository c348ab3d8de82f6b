// Sound behaviour on input that no well-behaved host sends: stray pin events, odd pin counts,
// repeated opens, display types outside the enumeration, odd sample rates, non-finite samples.
#include "AudioTestSupport.h"

#include "DisplayMessage.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

extern "C" void* makeModule(int32_t index, int32_t type, HostCallback callback,
                            intptr_t host_argument);

namespace {

using display_message::EncodeFrameSample;
using display_message::EncodePeak;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

uint32_t SampleBitsOf(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof(bits));
    return bits;
}

float FromBits(uint32_t bits) {
    float x;
    std::memcpy(&x, &bits, sizeof(x));
    return x;
}

// A LoggingModule under a rig, opened with the given pin count.
struct LoggedRig {
    explicit LoggedRig(int32_t count) {
        rig.pin_count = count;
        module = new LoggingModule(FakeHost::Callback(), 0);
        rig.Adopt(module->PlugRecord());
        rig.LearnVariables();
        FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);
        module->queries.clear();
        rig.Host().Clear();
    }
    AudioRig rig;
    LoggingModule* module;
};

} // namespace

// ---- Pin-status events -------------------------------------------------------------------------

TEST(BadPinEvents, IndicesOutsideTheArrayAreIgnored) {
    LoggedRig logged(3);
    std::vector<intptr_t> targets = {-1, 3, 4, 1000, INT32_MAX, INT32_MIN};
    if (sizeof(intptr_t) > 4) {
        targets.push_back(static_cast<intptr_t>(1) << 33 | 1); // low 32 bits name pin 1
        targets.push_back(-(static_cast<intptr_t>(1) << 40));
    }
    for (intptr_t target : targets) {
        logged.rig.PinEvent(target);
    }
    EXPECT_TRUE(logged.module->state_changes.empty());
    // Each event asked for the clock and did nothing else.
    EXPECT_EQ(logged.rig.Requests().size(), targets.size());
    EXPECT_EQ(logged.rig.Host().RequestsWithOpcode(AUDIO_RQ_SAMPLE_CLOCK).size(), targets.size());
    // The pins inside the array still work.
    logged.rig.PinEvent(1);
    EXPECT_EQ(logged.module->state_changes, std::vector<int32_t>{1});
}

TEST(BadPinEvents, UnboundEntriesAreIgnored) {
    LoggedRig logged(5);
    ASSERT_EQ(logged.module->PinCount(), 5);
    logged.rig.PinEvent(3);
    logged.rig.PinEvent(4, 1);
    EXPECT_TRUE(logged.module->state_changes.empty());
    EXPECT_EQ(logged.module->GetPin(3)->Status(), 0);
    EXPECT_EQ(logged.module->GetPin(4)->Status(), 0);
    logged.rig.PinEvent(2, 1);
    EXPECT_EQ(logged.module->state_changes, std::vector<int32_t>{2});
    EXPECT_EQ(logged.module->statuses, std::vector<int32_t>{1});
}

// ---- Pin counts and opens ----------------------------------------------------------------------

TEST(BadPinCounts, NegativeZeroAndHugeCountsBuildNoPins) {
    std::vector<intptr_t> counts = {0,         -1,        -1000,
                                    INT32_MIN, INT32_MAX, SEModule_base::kMaxPinCount + 1};
    if (sizeof(intptr_t) > 4) {
        counts.push_back(static_cast<intptr_t>(1) << 40);
        counts.push_back((static_cast<intptr_t>(1) << 32) + 3); // not a 32-bit count
        counts.push_back(-(static_cast<intptr_t>(1) << 40));
    }
    for (intptr_t count : counts) {
        AudioRig rig;
        rig.Host().SetAnswer([count](const HostRequest& request) -> intptr_t {
            return request.opcode == AUDIO_RQ_PIN_COUNT ? count : 0;
        });
        LoggingModule* module = new LoggingModule(FakeHost::Callback(), 0);
        rig.Adopt(module->PlugRecord());
        rig.LearnVariables();
        module->queries.clear();
        FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);
        EXPECT_EQ(module->PinCount(), 0) << count;
        EXPECT_EQ(module->queries, (std::vector<int32_t>{0, -1})) << count;
        // The capture routine is installed all the same and runs on the variables.
        rig.SetActive(ACTIVE_ON);
        *rig.display_type = DISPLAY_SAMPLE;
        rig.Process(Constant(44, 0.5f));
        EXPECT_EQ(rig.Messages().size(), 1u) << count;
    }
}

TEST(BadPinCounts, TheLargestAllowedCountIsBuilt) {
    LoggedRig logged(SEModule_base::kMaxPinCount);
    ASSERT_EQ(logged.module->PinCount(), SEModule_base::kMaxPinCount);
    EXPECT_TRUE(logged.module->GetPin(2)->IsBound());
    EXPECT_FALSE(logged.module->GetPin(3)->IsBound());
    logged.rig.PinEvent(SEModule_base::kMaxPinCount - 1);
    logged.rig.PinEvent(SEModule_base::kMaxPinCount);
    EXPECT_TRUE(logged.module->state_changes.empty());
}

TEST(RepeatedOpen, ReplacesThePinArrayWithoutLeakOrStaleUse) {
    LoggedRig logged(3);
    LoggingModule* module = logged.module;
    AudioRig& rig = logged.rig;
    for (int32_t count : {5, 3, 0, 2, 19, 3}) {
        rig.pin_count = count;
        FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);
        ASSERT_EQ(module->PinCount(), count);
        for (int32_t i = 0; i < count; ++i) {
            SEPin* pin = module->GetPin(i);
            EXPECT_EQ(pin->IsBound(), i < 3);
            if (i < 3) {
                EXPECT_EQ(pin->Owner(), module);
                EXPECT_EQ(pin->Index(), i);
            }
        }
        if (count > 1) {
            module->state_changes.clear();
            rig.PinEvent(1);
            EXPECT_EQ(module->state_changes, std::vector<int32_t>{1});
        }
    }
    // The capture still runs after all of that.
    rig.SetActive(ACTIVE_ON);
    rig.SetDisplayType(DISPLAY_SAMPLE);
    rig.Host().Clear();
    rig.Process(Constant(800, 0.1f));
    EXPECT_EQ(rig.Messages().size(), 1u);
}

// ---- Display types outside -1..10 --------------------------------------------------------------

TEST(BadDisplayTypes, APeakLengthNeverDrivesFrameWritesPastTheBuffer) {
    // 200ms at 44100 Hz is 8819 samples; then the host writes Sample without announcing it.
    AudioRig rig;
    rig.MakeOpen();
    rig.SetActive(ACTIVE_ON);
    rig.SetDisplayType(10);
    rig.Process(Constant(100, 0.2f));
    *rig.display_type = DISPLAY_SAMPLE;
    rig.Host().Clear();
    const std::vector<float> signal = Ramp(1000, -1.0f, 0.002f);
    rig.Process(signal.data(), 799);
    EXPECT_TRUE(rig.Messages().empty());
    rig.Process(signal.data() + 799, 201);
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(rig.Messages()[0].index, 800);
    const std::vector<uint8_t> bytes = AudioRig::FrameBytes(rig.Messages()[0]);
    for (size_t i = 0; i < 800; ++i) {
        ASSERT_EQ(bytes[i], EncodeFrameSample(signal[i])) << i;
    }
    // The variables beside the frame buffer are untouched.
    EXPECT_EQ(*rig.display_type, DISPLAY_SAMPLE);
    EXPECT_EQ(*rig.active, ACTIVE_ON);
    // The next frame is 800 samples again.
    rig.GuiNotify();
    rig.Host().Clear();
    rig.Process(Constant(799, 0.0f));
    EXPECT_TRUE(rig.Messages().empty());
    rig.Process(Constant(1, 0.0f));
    EXPECT_EQ(rig.Messages().size(), 1u);
}

TEST(BadDisplayTypes, OutOfRangeValuesKeepTheLengthAndRestartTheCount) {
    AudioRig rig;
    rig.MakeOpen(48000.0f);
    rig.SetActive(ACTIVE_ON);
    rig.SetDisplayType(1); // 48
    rig.Process(Constant(20, 0.0f));
    rig.SetDisplayType(11); // a peak mode by its sign, with the length kept
    rig.Process(Constant(47, 0.0f));
    EXPECT_TRUE(rig.Messages().empty());
    rig.Process(Constant(1, 0.0f));
    EXPECT_EQ(rig.Messages().size(), 1u);
    // Below -1 counts as Sample Sync, with the kept length of 48.
    rig.SetDisplayType(-5);
    rig.GuiNotify();
    rig.Host().Clear();
    rig.Process(Ramp(100, 0.0f, 0.01f));
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(rig.Messages()[0].index, 800);
    EXPECT_EQ(*rig.display_type, -5);
}

TEST(BadDisplayTypes, AnyOrderOfModesKeepsTheFrameInsideItsBuffer) {
    const std::vector<int16_t> values = {-1, 0, 1, 2, 5, 10, 11, 12, 100, 32767, -2, -100, -32768};
    std::mt19937 random(12345);
    std::vector<float> signal(4096);
    for (size_t i = 0; i < signal.size(); ++i) {
        signal[i] = std::sin(static_cast<float>(i) * 0.07f) * 1.5f;
    }
    for (int16_t before : values) {
        for (int16_t after : values) {
            for (int announced = 0; announced < 2; ++announced) {
                AudioRig rig;
                rig.MakeOpen();
                rig.SetActive(ACTIVE_ON);
                rig.SetDisplayType(before);
                rig.Process(signal.data(), 300);
                if (announced != 0) {
                    rig.SetDisplayType(after);
                } else {
                    *rig.display_type = after;
                }
                size_t start = 0;
                for (int block = 0; block < 12; ++block) {
                    const int32_t n = 1 + static_cast<int32_t>(random() % 700);
                    rig.Process(signal.data() + start, n);
                    start = (start + static_cast<size_t>(n)) % 3000;
                    if (random() % 2 == 0) {
                        rig.GuiNotify();
                    }
                }
                for (const HostRequest& message : rig.Messages()) {
                    if (message.ptr != nullptr) {
                        ASSERT_EQ(message.index, 800);
                    } else {
                        ASSERT_EQ(static_cast<uint32_t>(message.value) >> 24, 0xFFu);
                    }
                }
                ASSERT_EQ(*rig.display_type, after) << before << " " << after;
                ASSERT_EQ(*rig.active, ACTIVE_ON) << before << " " << after;
            }
        }
    }
}

// ---- Sample rates ------------------------------------------------------------------------------

TEST(BadSampleRates, EveryRateGivesPeriodsOfAtLeastOneSample) {
    // The expected period length: 0 stands for "longer than any test can play".
    struct Case {
        float rate;
        float samples_per_ms; // as the module keeps it; NaN when periods are of one sample
    };
    const std::vector<Case> cases = {
        {0.0f, kNaN},   {-0.0f, kNaN},   {-44100.0f, kNaN},   {kNaN, kNaN},   {-kInf, kNaN},
        {1e-30f, kNaN}, {FLT_MIN, kNaN}, {FromBits(1), kNaN}, {-1e30f, kNaN}, {999.0f, 0.999f},
        {kInf, kInf},   {1e30f, kInf},   {FLT_MAX, kInf},     {3e12f, kInf},
    };
    const int32_t milliseconds[10] = {1, 2, 5, 10, 20, 40, 60, 80, 100, 200};
    for (const Case& c : cases) {
        AudioRig rig;
        rig.MakeOpen(c.rate);
        rig.SetActive(ACTIVE_ON);
        for (int16_t type = 1; type <= 10; ++type) {
            rig.SetDisplayType(type);
            rig.Host().Clear();
            rig.Process(Constant(1000, 0.5f));
            size_t expected = 0;
            if (std::isnan(c.samples_per_ms)) {
                expected = 1000; // one message per sample
            } else if (std::isfinite(c.samples_per_ms)) {
                int32_t length = static_cast<int32_t>(static_cast<double>(c.samples_per_ms) *
                                                      milliseconds[type - 1]);
                length = length < 1 ? 1 : length;
                expected = static_cast<size_t>(1000 / length);
            }
            EXPECT_EQ(rig.Messages().size(), expected) << c.rate << " type " << type;
            for (const HostRequest& message : rig.Messages()) {
                EXPECT_EQ(static_cast<uint32_t>(message.value), 0xFF004000u);
            }
        }
        // Sample modes are 800 samples at any rate.
        rig.SetDisplayType(DISPLAY_SAMPLE);
        rig.Host().Clear();
        rig.Process(Constant(799, 0.0f));
        EXPECT_TRUE(rig.Messages().empty());
        rig.Process(Constant(1, 0.0f));
        EXPECT_EQ(rig.Messages().size(), 1u);
    }
}

// ---- Samples that are not ordinary numbers -----------------------------------------------------

TEST(BadSamples, FramesHoldTheDefinedByteOfEverySample) {
    const std::vector<float> specials = {kNaN,
                                         -kNaN,
                                         kInf,
                                         -kInf,
                                         FLT_MAX,
                                         -FLT_MAX,
                                         1e30f,
                                         -1e30f,
                                         1e9f,
                                         -1e9f,
                                         8333332.0f,
                                         -8333332.0f,
                                         8333334.0f,
                                         -8333334.0f,
                                         2.2e7f,
                                         FLT_MIN,
                                         -FLT_MIN,
                                         FromBits(1),
                                         -0.0f,
                                         0.0f,
                                         1.0f,
                                         -1.0f,
                                         1.0625f,
                                         -1.0625f,
                                         1.07f,
                                         -1.07f,
                                         2.0f,
                                         -2.0f,
                                         1000.5f,
                                         16777216.0f,
                                         FromBits(0x7F800001),
                                         FromBits(0xFFC00001)};
    for (int16_t type : {DISPLAY_SAMPLE, DISPLAY_SAMPLE_SYNC}) {
        AudioRig rig;
        rig.MakeOpen();
        rig.SetActive(ACTIVE_ON);
        rig.SetDisplayType(type);
        std::vector<float> signal = {0.0f}; // +0.0: the Sync trigger
        while (signal.size() < 800) {
            signal.insert(signal.end(), specials.begin(), specials.end());
        }
        signal.resize(800);
        rig.Process(signal);
        ASSERT_EQ(rig.Messages().size(), 1u);
        const std::vector<uint8_t> bytes = AudioRig::FrameBytes(rig.Messages()[0]);
        for (size_t i = 0; i < 800; ++i) {
            ASSERT_EQ(bytes[i], EncodeFrameSample(signal[i])) << i << " " << signal[i];
        }
    }
    EXPECT_EQ(EncodeFrameSample(kNaN), 128);
    EXPECT_EQ(EncodeFrameSample(kInf), 248);
    EXPECT_EQ(EncodeFrameSample(-kInf), 8);
}

TEST(BadSamples, RandomBitPatternsGiveTheSameBytesAsTheMessageForm) {
    AudioRig rig;
    rig.MakeOpen();
    rig.SetActive(ACTIVE_ON);
    rig.SetDisplayType(DISPLAY_SAMPLE);
    std::mt19937 random(99);
    std::uniform_real_distribution<float> ordinary(-1.2f, 1.2f);
    std::vector<float> signal(800);
    for (int frame = 0; frame < 400; ++frame) {
        for (size_t i = 0; i < signal.size(); ++i) {
            switch (random() % 4) {
            case 0:
                signal[i] = FromBits(static_cast<uint32_t>(random()));
                break;
            case 1: // around the edge of the short path
                signal[i] = std::nextafter(8333332.2f, 0.0f) +
                            static_cast<float>(static_cast<int>(random() % 9) - 4);
                signal[i] = (random() % 2 == 0) ? signal[i] : -signal[i];
                break;
            default:
                signal[i] = ordinary(random);
                break;
            }
        }
        rig.Host().Clear();
        rig.Process(signal);
        ASSERT_EQ(rig.Messages().size(), 1u);
        const std::vector<uint8_t> bytes = AudioRig::FrameBytes(rig.Messages()[0]);
        for (size_t i = 0; i < 800; ++i) {
            ASSERT_EQ(bytes[i], EncodeFrameSample(signal[i])) << signal[i];
        }
        rig.GuiNotify();
    }
}

TEST(BadSamples, FrameBytesNearEveryRoundingEdgeMatchTheMessageForm) {
    // 120 x + 128 lands halfway between two integers at x = (m - 128.5) / 120: the floats around
    // those points, across and beyond the range the capture takes its short path in, and a sweep
    // of bit patterns, all give the bytes of display_message::EncodeFrameSample.
    std::vector<float> samples;
    auto around = [&samples](double point) {
        float x = static_cast<float>(point);
        for (int k = 0; k < 3; ++k) {
            x = std::nextafter(x, -kInf);
        }
        for (int k = 0; k < 7; ++k) {
            samples.push_back(x);
            x = std::nextafter(x, kInf);
        }
    };
    for (int m = -2000; m <= 2000; ++m) {
        around((m - 128.5) / 120.0);
    }
    for (double edge : {65536.0, 8388608.0 / 120.0, 1e9 / 120.0, 16777216.0}) {
        for (int m = -40; m <= 40; ++m) {
            around(edge + m / 120.0);
            around(-edge + m / 120.0);
        }
    }
    for (uint32_t bits = 0; bits < 0x4F000000u; bits += 4099u) {
        samples.push_back(FromBits(bits));
        samples.push_back(FromBits(bits | 0x80000000u));
    }
    AudioRig rig;
    rig.MakeOpen();
    rig.SetActive(ACTIVE_ON);
    rig.SetDisplayType(DISPLAY_SAMPLE);
    samples.resize((samples.size() + 799) / 800 * 800, 0.0f);
    for (size_t start = 0; start < samples.size(); start += 800) {
        rig.Host().Clear();
        rig.Process(samples.data() + start, 800);
        ASSERT_EQ(rig.Messages().size(), 1u);
        const uint8_t* bytes = static_cast<const uint8_t*>(rig.Messages()[0].ptr);
        for (size_t i = 0; i < 800; ++i) {
            ASSERT_EQ(bytes[i], EncodeFrameSample(samples[start + i]))
                << samples[start + i] << " bits " << std::hex
                << static_cast<uint32_t>(SampleBitsOf(samples[start + i]));
        }
        rig.GuiNotify();
    }
}

TEST(BadSamples, PeaksFollowTheSequentialRuleForAnySamples) {
    // Reference: each sample in turn, x >= max takes the maximum, else x <= min the minimum.
    std::mt19937 random(2024);
    std::vector<float> signal(20000);
    for (float& x : signal) {
        const uint32_t pick = static_cast<uint32_t>(random() % 10);
        if (pick == 0) {
            x = FromBits(static_cast<uint32_t>(random()));
        } else if (pick == 1) {
            x = kNaN;
        } else {
            x = std::ldexp(static_cast<float>(static_cast<int32_t>(random() % 2001) - 1000), -9);
        }
    }
    for (int32_t block : {1, 7, 16, 17, 64, 333, 4096}) {
        for (int16_t type : {int16_t{1}, int16_t{3}, int16_t{10}}) {
            AudioRig rig;
            rig.MakeOpen(44100.0f);
            rig.SetActive(ACTIVE_ON);
            rig.SetDisplayType(type);
            rig.Host().Clear();
            rig.Play(signal, block);
            const int32_t length = type == 1 ? 44 : (type == 3 ? 220 : 8819);
            std::vector<uint32_t> expected;
            float max = 0.0f, min = 0.0f;
            for (size_t i = 0; i < signal.size(); ++i) {
                const float x = signal[i];
                if (x >= max) {
                    max = x;
                } else if (x <= min) {
                    min = x;
                }
                if ((i + 1) % static_cast<size_t>(length) == 0) {
                    expected.push_back(static_cast<uint32_t>(EncodePeak(max, min)));
                    max = 0.0f;
                    min = 0.0f;
                }
            }
            std::vector<uint32_t> sent;
            for (const HostRequest& message : rig.Messages()) {
                sent.push_back(static_cast<uint32_t>(message.value));
            }
            EXPECT_EQ(sent, expected) << "block " << block << " type " << type;
        }
    }
}

TEST(BadSamples, PeaksOfNonFiniteAndHugeSamplesKeepTheirTag) {
    struct Case {
        std::vector<float> period;
        uint32_t value;
    };
    const std::vector<Case> cases = {
        {{kNaN, kNaN, kNaN}, 0xFF000000u},
        {{0.25f, kNaN, -0.5f}, 0xFF002040u},
        {{kNaN, 0.25f, kNaN, -0.5f}, 0xFF002040u},
        {{kInf, -0.5f}, 0xFF00FF40u},
        {{-kInf, 0.25f}, 0xFF0020FFu},
        {{1e30f, -1e30f}, 0xFF00FFFFu},
        {{FLT_MAX, -FLT_MAX}, 0xFF00FFFFu},
        {{2.0f, -2.0f}, 0xFF00FFFFu},
        {{1.99f, -1.999f}, 0xFF00FFFFu},
        {{kInf, -kInf, kNaN}, 0xFF00FFFFu},
        {{FromBits(1), -FromBits(1)}, 0xFF000000u},
    };
    for (const Case& c : cases) {
        AudioRig rig;
        rig.MakeOpen(static_cast<float>(c.period.size()) * 1000.0f); // 1ms = the period
        rig.SetActive(ACTIVE_ON);
        rig.SetDisplayType(1);
        rig.Process(c.period);
        rig.Process(c.period);
        ASSERT_EQ(rig.Messages().size(), 2u);
        for (const HostRequest& message : rig.Messages()) {
            EXPECT_EQ(static_cast<uint32_t>(message.value), c.value) << std::hex << c.value;
        }
    }
}

TEST(BadSamples, RandomBitPatternsInEveryPeakModeKeepTheTag) {
    std::mt19937 random(7);
    std::vector<float> signal(4096);
    for (float& x : signal) {
        x = FromBits(static_cast<uint32_t>(random()));
    }
    for (int16_t type = 1; type <= 10; ++type) {
        AudioRig rig;
        rig.MakeOpen(8000.0f);
        rig.SetActive(ACTIVE_ON);
        rig.SetDisplayType(type);
        for (int repeat = 0; repeat < 4; ++repeat) {
            rig.Play(signal, 333);
        }
        EXPECT_FALSE(rig.Messages().empty());
        for (const HostRequest& message : rig.Messages()) {
            ASSERT_EQ(static_cast<uint32_t>(message.value) >> 24, 0xFFu);
        }
    }
}

// ---- Events, callbacks and blocks --------------------------------------------------------------

TEST(BadEvents, RunRoutineWithoutAnAddressIsIgnored) {
    AudioRig rig;
    rig.MakeOpen();
    HostEvent event{0, EVENT_RUN_ROUTINE, 5, 6, 0};
    FakeHost::SendEvent(rig.plug, event);
    ASSERT_EQ(rig.Requests().size(), 1u);
    EXPECT_EQ(rig.Requests()[0].opcode, AUDIO_RQ_SAMPLE_CLOCK);
}

TEST(NoHostCallback, TheModuleRunsAndAsksNothing) {
    AudioRig rig; // only for the variables' helpers: it sees no request
    AudioPlugRecord* plug =
        static_cast<AudioPlugRecord*>(makeModule(0, MODULE_TYPE_AUDIO, nullptr, 3));
    ASSERT_NE(plug, nullptr);
    rig.Adopt(plug);
    rig.LearnVariables();
    EXPECT_EQ(FakeHost::Dispatch(plug, AUDIO_OP_OPEN), 0);
    EXPECT_EQ(rig.Object()->PinCount(), 0);
    EXPECT_NE(plug->process, &SEModule_base_EmptyProcess);
    rig.Process(Constant(64, 0.5f)); // OFF: the idle request goes nowhere
    rig.SetActive(ACTIVE_ON);
    *rig.display_type = 1;
    rig.Process(Constant(4096, 0.5f));
    *rig.display_type = DISPLAY_SAMPLE;
    rig.Process(Constant(4096, 0.5f));
    EXPECT_EQ(rig.Object()->SampleClock(), 0);
    EXPECT_TRUE(rig.Requests().empty());
}

TEST(BadBlocks, EmptyOrNegativeBlocksAndAMissingBufferReadNothing) {
    ForbiddenPage page;
    for (int16_t type : {int16_t{DISPLAY_SAMPLE_SYNC}, int16_t{DISPLAY_SAMPLE}, int16_t{1}}) {
        AudioRig rig;
        rig.MakeOpen();
        rig.SetActive(ACTIVE_ON);
        rig.SetDisplayType(type);
        rig.Host().Clear();
        rig.Process(page.Samples(), 0);
        rig.Process(page.Samples(), -5);
        rig.Process(nullptr, 64);
        EXPECT_TRUE(rig.Requests().empty()) << type;
        // The state is unharmed: Sync is still armed and triggers on a first +0.0.
        rig.Process(Ramp(900, 0.0f, 0.001f));
        EXPECT_EQ(rig.Messages().size(), type > 0 ? 20u : 1u) << type;
    }
}
