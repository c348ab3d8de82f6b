// The capture engine and the messages it sends, as a host sees them.
#include "AudioTestSupport.h"

#include "DisplayMessage.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using display_message::EncodeFrameSample;
using display_message::EncodePeak;

std::vector<uint8_t> Encoded(const std::vector<float>& samples, size_t from, size_t count) {
    std::vector<uint8_t> bytes;
    for (size_t i = from; i < from + count; ++i) {
        bytes.push_back(EncodeFrameSample(samples[i]));
    }
    return bytes;
}

class CaptureTest : public testing::Test {
protected:
    void Open(float rate = 44100.0f) {
        rig.MakeOpen(rate);
        rig.SetActive(ACTIVE_ON);
    }
    void ExpectFrameMessage(const HostRequest& message) {
        ExpectRequest(message, rig.plug, AUDIO_RQ_SEND_TO_GUI, 800, 0, message.ptr);
        EXPECT_NE(message.ptr, nullptr); // the frame's bytes
    }
    void ExpectPeakMessage(const HostRequest& message, int32_t value) {
        ExpectRequest(message, rig.plug, AUDIO_RQ_SEND_TO_GUI, 0, value, nullptr);
    }
    // Samples until the next peak message, feeding one sample per block.
    int32_t SamplesPerPeak(int32_t limit) {
        const float zero = 0.0f;
        for (int32_t n = 1; n <= limit; ++n) {
            rig.Process(&zero, 1);
            if (!rig.Messages().empty()) {
                rig.Host().Clear();
                return n;
            }
        }
        return -1;
    }

    AudioRig rig;
};

} // namespace

TEST_F(CaptureTest, OpenInstallsTheCaptureRoutineAndAnnouncesIt) {
    AudioRig fresh;
    fresh.Adopt(fresh.Host().MakeAudio());
    EXPECT_EQ(fresh.plug->process, &SEModule_base_EmptyProcess);
    FakeHost::Dispatch(fresh.plug, AUDIO_OP_OPEN);
    const std::vector<HostRequest>& requests = fresh.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].opcode, AUDIO_RQ_PIN_COUNT);
    EXPECT_EQ(requests[1].opcode, AUDIO_RQ_PROCESS_CHANGED);
    EXPECT_EQ(requests[1].index, 0);
    EXPECT_EQ(requests[1].value, 0);
    EXPECT_EQ(requests[1].ptr, nullptr);
    EXPECT_NE(fresh.plug->process, &SEModule_base_EmptyProcess);
    EXPECT_NE(fresh.plug->process, nullptr);

    const auto* reply = reinterpret_cast<const ProcessQueryReply*>(
        FakeHost::Dispatch(fresh.plug, AUDIO_OP_QUERY_PROCESS));
    EXPECT_EQ(reply->selection->routine, fresh.plug->process);
    EXPECT_EQ(reply->selection->word1, 0);
    EXPECT_EQ(reply->selection->word2, 0);

    // A second open installs the same routine again: no announcement.
    fresh.Host().Clear();
    FakeHost::Dispatch(fresh.plug, AUDIO_OP_OPEN);
    EXPECT_TRUE(fresh.Host().RequestsWithOpcode(AUDIO_RQ_PROCESS_CHANGED).empty());
}

TEST_F(CaptureTest, OffSendsOneIdlePerBlockAndReadsNothing) {
    Open();
    rig.SetActive(ACTIVE_OFF);
    ForbiddenPage page;
    for (int16_t type : {-1, 0, 1, 10, 11, -7}) {
        rig.SetDisplayType(type);
        rig.Host().Clear();
        for (int block = 0; block < 3; ++block) {
            rig.Process(page.Samples(), 256);
        }
        const std::vector<HostRequest>& requests = rig.Requests();
        ASSERT_EQ(requests.size(), 3u) << type;
        for (const HostRequest& request : requests) {
            ExpectRequest(request, rig.plug, AUDIO_RQ_IDLE, 0, 0, nullptr);
        }
    }
}

TEST_F(CaptureTest, BeforeTheFirstDisplayTypeChangeAFrameIs44Samples) {
    Open();
    rig.Process(Constant(43, 0.5f));
    EXPECT_TRUE(rig.Messages().empty());
    rig.Process(Constant(10, 0.5f));
    ASSERT_EQ(rig.Messages().size(), 1u);
    const std::vector<uint8_t> bytes = AudioRig::FrameBytes(rig.Messages()[0]);
    for (size_t i = 0; i < 800; ++i) {
        EXPECT_EQ(bytes[i], i < 44 ? 188 : 128) << i; // 120 * 0.5 + 128; the rest silence
    }
}

TEST_F(CaptureTest, SampleModeSendsOneFrameAfter800SamplesThenWaits) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE);
    const std::vector<float> signal = Ramp(832, -1.0f, 2.0f / 832.0f);
    rig.Play(std::vector<float>(signal.begin(), signal.begin() + 768), 64);
    EXPECT_TRUE(rig.Messages().empty());
    rig.Process(signal.data() + 768, 64); // the 800th sample is the 32nd of this block
    ASSERT_EQ(rig.Messages().size(), 1u);
    const HostRequest message = rig.Messages()[0];
    ExpectFrameMessage(message);
    EXPECT_EQ(AudioRig::FrameBytes(message), Encoded(signal, 0, 800));

    // Idle until the GUI side answers: no message, no request at all.
    rig.Host().Clear();
    rig.Play(Constant(4000, 0.25f), 100);
    EXPECT_TRUE(rig.Requests().empty());

    // Re-armed: the next frame starts with the next block, not with the rest of the old one.
    rig.GuiNotify();
    const std::vector<float> next = Ramp(800, 0.0f, 0.001f);
    rig.Play(next, 128);
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(AudioRig::FrameBytes(rig.Messages()[0]), Encoded(next, 0, 800));
    EXPECT_EQ(rig.Messages()[0].ptr, message.ptr); // the same buffer inside the object
}

TEST_F(CaptureTest, BlockOffsetIsAddedToTheInputPointer) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE);
    std::vector<float> buffer = Constant(900, -1.0f);
    for (size_t i = 100; i < 900; ++i) {
        buffer[i] = 1.0f;
    }
    *rig.input = buffer.data();
    FakeHost::Process(rig.plug, 100, 800);
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(AudioRig::FrameBytes(rig.Messages()[0]), std::vector<uint8_t>(800, 248));
}

TEST_F(CaptureTest, FrameBytesFollowTheByteForm) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE);
    std::vector<float> signal(800, 0.0f);
    signal[0] = 1.0f;
    signal[1] = -1.0f;
    signal[2] = 0.0f;
    signal[3] = 1.1f;  // round(260) = 260, low 8 bits 4
    signal[4] = -1.1f; // round(-4) low 8 bits 252
    for (size_t i = 5; i < 800; ++i) {
        signal[i] = std::sin(static_cast<float>(i) * 0.05f);
    }
    rig.Process(signal);
    ASSERT_EQ(rig.Messages().size(), 1u);
    const std::vector<uint8_t> bytes = AudioRig::FrameBytes(rig.Messages()[0]);
    EXPECT_EQ(bytes[0], 248);
    EXPECT_EQ(bytes[1], 8);
    EXPECT_EQ(bytes[2], 128);
    EXPECT_EQ(bytes[3], 4);
    EXPECT_EQ(bytes[4], 252);
    uint8_t lowest = 255, highest = 0;
    for (size_t i = 5; i < 800; ++i) {
        lowest = std::min(lowest, bytes[i]);
        highest = std::max(highest, bytes[i]);
    }
    EXPECT_EQ(lowest, 8);
    EXPECT_EQ(highest, 248);
    EXPECT_EQ(bytes, Encoded(signal, 0, 800));
}

TEST_F(CaptureTest, SyncTriggersOnAFirstSampleOfPlusZero) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE_SYNC);
    std::vector<float> signal = Ramp(800, 0.0f, 0.001f); // first sample +0.0
    rig.Process(signal);
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(AudioRig::FrameBytes(rig.Messages()[0]), Encoded(signal, 0, 800));
}

TEST_F(CaptureTest, SyncNeverTriggersOnASteadilyPositiveSignal) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE_SYNC);
    rig.Host().Clear();
    rig.Play(Constant(10000, 0.3f), 256);
    EXPECT_TRUE(rig.Requests().empty());
}

TEST_F(CaptureTest, SyncTriggersOnTheRisingSampleWhichBecomesByteZero) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE_SYNC);
    std::vector<float> signal = Constant(10, 0.3f); // positive: no trigger here
    for (int i = 0; i < 5; ++i) {
        signal.push_back(-0.1f);
    }
    const size_t trigger = signal.size();
    for (int i = 0; i < 900; ++i) {
        signal.push_back(i % 2 == 0 ? 0.1f : 0.2f);
    }
    rig.Process(signal);
    ASSERT_EQ(rig.Messages().size(), 1u);
    const std::vector<uint8_t> bytes = AudioRig::FrameBytes(rig.Messages()[0]);
    EXPECT_EQ(bytes[0], 140); // round(120 * 0.1 + 128)
    EXPECT_EQ(bytes, Encoded(signal, trigger, 800));
}

TEST_F(CaptureTest, SyncCaptureContinuesAcrossBlocksWithoutSkipping) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE_SYNC);
    std::vector<float> signal = Constant(40, -0.5f);
    const std::vector<float> rise = Ramp(1000, 0.0f, 0.0009f);
    signal.insert(signal.end(), rise.begin(), rise.end());
    rig.Play(signal, 64); // trigger at sample 40 of the first block
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(AudioRig::FrameBytes(rig.Messages()[0]), Encoded(signal, 40, 800));
}

TEST_F(CaptureTest, SyncSearchCarriesItsPreviousSampleIntoTheNextBlock) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE_SYNC);
    rig.Process(Constant(64, -0.2f));
    EXPECT_TRUE(rig.Messages().empty());
    // The first sample of this block follows a negative one: it is the trigger.
    const std::vector<float> rise = Ramp(800, 0.05f, 0.001f);
    rig.Process(rise);
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(AudioRig::FrameBytes(rig.Messages()[0]), Encoded(rise, 0, 800));
}

TEST_F(CaptureTest, SyncComparesBitPatterns) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE_SYNC);
    // -0.0 has its sign bit set: as a current sample it is no trigger, as a previous one it
    // counts as negative.
    std::vector<float> signal = {0.5f, -0.3f, -0.0f, -0.0f, 0.25f};
    const std::vector<float> tail = Ramp(799, 0.3f, 0.0001f);
    signal.insert(signal.end(), tail.begin(), tail.end());
    rig.Process(signal);
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(AudioRig::FrameBytes(rig.Messages()[0]), Encoded(signal, 4, 800));
}

TEST_F(CaptureTest, SyncRearmedByTheGuiSearchesAgain) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE_SYNC);
    rig.Process(Ramp(800, 0.0f, 0.001f));
    ASSERT_EQ(rig.Messages().size(), 1u);
    rig.GuiNotify();
    rig.Host().Clear();
    // Armed again: the first sample of the next block is positive, so no trigger until the
    // signal crosses zero upward again.
    std::vector<float> signal = Constant(100, 0.4f);
    for (int i = 0; i < 50; ++i) {
        signal.push_back(-0.4f);
    }
    const std::vector<float> rise = Ramp(800, 0.0f, 0.0005f);
    signal.insert(signal.end(), rise.begin(), rise.end());
    rig.Process(signal);
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(AudioRig::FrameBytes(rig.Messages()[0]), Encoded(signal, 150, 800));
}

TEST_F(CaptureTest, PeakModeOneMillisecondAt48kHz) {
    Open(48000.0f);
    rig.SetDisplayType(1);
    rig.Host().Clear();
    // Periods of 48 samples across blocks of 20: period p holds values up to 0.01 * (p + 1).
    std::vector<float> signal;
    for (int period = 0; period < 5; ++period) {
        for (int i = 0; i < 48; ++i) {
            const float up = 0.01f * static_cast<float>(period + 1) * static_cast<float>(i) / 47.0f;
            signal.push_back(period == 2 ? up : (i % 2 == 0 ? up : -up * 0.5f));
        }
    }
    rig.Play(signal, 20);
    const std::vector<HostRequest> messages = rig.Messages();
    ASSERT_EQ(messages.size(), 5u);
    for (int period = 0; period < 5; ++period) {
        float max = 0.0f, min = 0.0f;
        for (int i = 0; i < 48; ++i) {
            const float x = signal[static_cast<size_t>(period * 48 + i)];
            if (x >= max) {
                max = x;
            } else if (x <= min) {
                min = x;
            }
        }
        ExpectPeakMessage(messages[static_cast<size_t>(period)], EncodePeak(max, min));
    }
    // Period 2 held only positive samples: its minimum field is 0.
    EXPECT_EQ(messages[2].value & 0xFF, 0);
    // The messages went out at samples 48, 96, ...: nothing is pending after 240.
    EXPECT_EQ(rig.Requests().size(), 5u);
}

TEST_F(CaptureTest, PeakValuesOfTheMessageTable) {
    Open(48000.0f);
    rig.SetDisplayType(1);
    rig.Process(Constant(48, 0.0f));
    std::vector<float> period = Constant(48, 0.0f);
    period[5] = 0.25f;
    period[30] = -0.5f;
    period[31] = 0.1f;
    rig.Process(period);
    ASSERT_EQ(rig.Messages().size(), 2u);
    ExpectPeakMessage(rig.Messages()[0], static_cast<int32_t>(0xFF000000u));
    ExpectPeakMessage(rig.Messages()[1], static_cast<int32_t>(0xFF002040u));
}

TEST_F(CaptureTest, PeriodLengthsAt44100And48000) {
    const int32_t at44100[10] = {44, 88, 220, 440, 881, 1763, 2645, 3527, 4409, 8819};
    const int32_t at48000[10] = {48, 96, 240, 480, 960, 1920, 2880, 3840, 4800, 9600};
    for (int rate_case = 0; rate_case < 2; ++rate_case) {
        AudioRig local;
        local.MakeOpen(rate_case == 0 ? 44100.0f : 48000.0f);
        local.SetActive(ACTIVE_ON);
        for (int16_t type = 1; type <= 10; ++type) {
            local.SetDisplayType(type);
            const int32_t expected = (rate_case == 0 ? at44100 : at48000)[type - 1];
            local.Host().Clear();
            // One sample short of a period: no message; one more: the message.
            std::vector<float> samples = Constant(static_cast<size_t>(expected - 1), 0.1f);
            local.Process(samples);
            EXPECT_TRUE(local.Messages().empty()) << type;
            const float one = 0.1f;
            local.Process(&one, 1);
            EXPECT_EQ(local.Messages().size(), 1u) << "type " << type << " rate case " << rate_case;
        }
    }
}

TEST_F(CaptureTest, HoldInSampleModeSwitchesOffAfterTheFrame) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE);
    rig.SetActive(ACTIVE_HOLD);
    rig.Process(Constant(900, 0.1f));
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(*rig.active, ACTIVE_OFF);
    rig.Host().Clear();
    rig.GuiNotify();
    rig.Process(Constant(64, 0.1f));
    ASSERT_EQ(rig.Requests().size(), 1u);
    EXPECT_EQ(rig.Requests()[0].opcode, AUDIO_RQ_IDLE);
}

TEST_F(CaptureTest, HoldInPeakModeStillSendsThePeriodsOfTheSameBlock) {
    Open(48000.0f);
    rig.SetDisplayType(1);
    rig.SetActive(ACTIVE_HOLD);
    rig.Process(Constant(48 * 3, 0.5f));
    EXPECT_EQ(rig.Messages().size(), 3u);
    EXPECT_EQ(*rig.active, ACTIVE_OFF);
    rig.Host().Clear();
    rig.Process(Constant(48, 0.5f));
    ASSERT_EQ(rig.Requests().size(), 1u);
    EXPECT_EQ(rig.Requests()[0].opcode, AUDIO_RQ_IDLE);
}

TEST_F(CaptureTest, DisplayTypeChangeMidFrameRestartsTheFrame) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE);
    rig.Process(Constant(500, -0.5f));
    rig.SetDisplayType(DISPLAY_SAMPLE);
    const std::vector<float> fresh = Ramp(800, 0.0f, 0.001f);
    rig.Process(fresh.data(), 799);
    EXPECT_TRUE(rig.Messages().empty());
    rig.Process(fresh.data() + 799, 1);
    ASSERT_EQ(rig.Messages().size(), 1u);
    EXPECT_EQ(AudioRig::FrameBytes(rig.Messages()[0]), Encoded(fresh, 0, 800));
}

TEST_F(CaptureTest, DisplayTypeChangeMidPeriodRestartsTheCountdown) {
    Open(48000.0f);
    rig.SetDisplayType(2); // 96 samples
    rig.Process(Constant(90, 0.5f));
    rig.SetDisplayType(1); // 48 samples, counted from here
    rig.Process(Constant(47, 0.0f));
    EXPECT_TRUE(rig.Messages().empty());
    rig.Process(Constant(1, 0.0f));
    ASSERT_EQ(rig.Messages().size(), 1u);
    // The running maximum is not reset by the change: 0.5 from before is still in it.
    ExpectPeakMessage(rig.Messages()[0], EncodePeak(0.5f, 0.0f));
}

TEST_F(CaptureTest, OtherPinsChangeNothing) {
    Open();
    rig.SetDisplayType(DISPLAY_SAMPLE);
    rig.Process(Constant(500, 0.5f));
    rig.PinEvent(PLUG_AUDIO_IN);
    rig.PinEvent(PLUG_ACTIVE);
    rig.Process(Constant(299, 0.5f));
    EXPECT_TRUE(rig.Messages().empty());
    rig.Process(Constant(1, 0.5f));
    EXPECT_EQ(rig.Messages().size(), 1u);
}

TEST_F(CaptureTest, GuiNotifyRearmsSampleModesAndIsIgnoredByPeakModes) {
    Open(48000.0f);
    rig.SetDisplayType(DISPLAY_SAMPLE);
    rig.Process(Constant(800, 0.5f));
    ASSERT_EQ(rig.Messages().size(), 1u);
    // Peak modes run whatever the capture state.
    rig.SetDisplayType(1);
    rig.Host().Clear();
    rig.Process(Constant(96, 0.5f));
    EXPECT_EQ(rig.Messages().size(), 2u);
    rig.GuiNotify();
    rig.Process(Constant(48, 0.5f));
    EXPECT_EQ(rig.Messages().size(), 3u);
    // Back to Sample: the change arms the capture.
    rig.SetDisplayType(DISPLAY_SAMPLE);
    rig.Host().Clear();
    rig.Process(Constant(800, 0.5f));
    ASSERT_EQ(rig.Messages().size(), 1u);
    ExpectFrameMessage(rig.Messages()[0]);
}

TEST_F(CaptureTest, SharedSamplesPerMillisecondFollowsTheLastOpen) {
    Open(48000.0f);
    // Another instance of the same host opens at another rate: every Open writes the
    // process-wide samples per millisecond, which every display type change reads.
    AudioPlugRecord* other = rig.Host().MakeAudio();
    FakeHost::Dispatch(other, AUDIO_OP_SET_SAMPLE_RATE, 0, 0, nullptr, 96000.0f);
    FakeHost::Dispatch(other, AUDIO_OP_OPEN);
    rig.Host().Clear();
    rig.SetDisplayType(1);
    EXPECT_EQ(SamplesPerPeak(200), 96);
    EXPECT_EQ(FakeHost::Dispatch(other, AUDIO_OP_CLOSE), 1);
}
