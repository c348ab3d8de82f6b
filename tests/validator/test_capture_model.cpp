// The validator is only as good as its model of the capture and its two comparisons: these pin
// them to the display's known behaviour, so that a slip in the model cannot pass a faulty module.
#include "CaptureModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using validator::CaptureModel;
using validator::Expectation;
using validator::ExpectedPeak;
using validator::FrameByteMatches;
using validator::PeakMatches;

namespace {

// A model opened at a rate, set to a display type and Active, with the change announced.
CaptureModel Opened(float rate, int16_t type, int16_t active) {
    CaptureModel model;
    model.Open(rate);
    model.SetDisplayType(type);
    model.SetActive(active);
    model.DisplayTypeChanged();
    return model;
}

} // namespace

TEST(FrameBytes, FollowTheByteFormAndWrapBeyondFullScale) {
    EXPECT_TRUE(FrameByteMatches(0.0f, 128));
    EXPECT_TRUE(FrameByteMatches(1.0f, 248));
    EXPECT_TRUE(FrameByteMatches(-1.0f, 8));
    EXPECT_FALSE(FrameByteMatches(1.0f, 247));
    EXPECT_FALSE(FrameByteMatches(0.0f, 127));
    // 1.1 gives 260, whose low byte is 4; -1.1 gives -4, whose low byte is 252.
    EXPECT_TRUE(FrameByteMatches(1.1f, 4));
    EXPECT_TRUE(FrameByteMatches(-1.1f, 252));
    EXPECT_FALSE(FrameByteMatches(1.1f, 255));
}

TEST(FrameBytes, AcceptEitherNeighbourOnlyAtAnExactHalf) {
    // 1/16 gives exactly 135.5; 0.0624 gives 135.488 and must round down.
    EXPECT_TRUE(FrameByteMatches(0.0625f, 135));
    EXPECT_TRUE(FrameByteMatches(0.0625f, 136));
    EXPECT_TRUE(FrameByteMatches(0.0624f, 135));
    EXPECT_FALSE(FrameByteMatches(0.0624f, 136));
}

TEST(FrameBytes, LeaveSamplesWithoutAnExactByteUnchecked) {
    EXPECT_TRUE(FrameByteMatches(std::numeric_limits<float>::quiet_NaN(), 0));
    EXPECT_TRUE(FrameByteMatches(std::numeric_limits<float>::infinity(), 17));
    EXPECT_TRUE(FrameByteMatches(1e30f, 99));
}

TEST(PeakValues, DecodeWithinOneStepOfTheEnvelope) {
    const ExpectedPeak period{0.25f, -0.5f, true};
    EXPECT_TRUE(PeakMatches(static_cast<int32_t>(0xFF002040u), period));
    EXPECT_TRUE(PeakMatches(static_cast<int32_t>(0xFF002141u), period));  // one step off each
    EXPECT_FALSE(PeakMatches(static_cast<int32_t>(0xFF002240u), period)); // two steps above max
    EXPECT_FALSE(PeakMatches(static_cast<int32_t>(0xFF00203Eu), period)); // two steps below min
    // The receiver tells a peak by its top byte.
    EXPECT_FALSE(PeakMatches(static_cast<int32_t>(0xFE002040u), period));
    EXPECT_FALSE(PeakMatches(static_cast<int32_t>(0x00002040u), period));
}

TEST(PeakValues, CheckOnlyTheTagOfPeriodsBeyondTheFields) {
    const ExpectedPeak wild{std::numeric_limits<float>::infinity(), -3.0f, false};
    EXPECT_TRUE(PeakMatches(static_cast<int32_t>(0xFF00FFFFu), wild));
    EXPECT_FALSE(PeakMatches(static_cast<int32_t>(0x7F00FFFFu), wild));
}

TEST(CaptureModel, OffBlocksAskForIdleAndNothingElse) {
    CaptureModel model = Opened(48000.0f, 3, 0);
    std::vector<float> block(500, 0.5f);
    Expectation out;
    model.Process(block.data(), 500, out);
    EXPECT_TRUE(out.idle);
    EXPECT_TRUE(out.peaks.empty());
    EXPECT_FALSE(out.frame);
}

TEST(CaptureModel, PeriodsRunAcrossBlocksAtTheSharedRate) {
    // 1 ms at 48 kHz: a period every 48 samples, whatever the blocks.
    CaptureModel model = Opened(48000.0f, 1, 1);
    EXPECT_EQ(model.FrameLength(), 48);
    std::vector<float> block(30);
    for (int i = 0; i < 30; ++i) {
        block[i] = (i % 2 == 0 ? 0.5f : -0.25f);
    }
    Expectation out;
    size_t peaks = 0;
    for (int b = 0; b < 8; ++b) { // 240 samples
        model.Process(block.data(), 30, out);
        peaks += out.peaks.size();
        for (const ExpectedPeak& p : out.peaks) {
            EXPECT_FLOAT_EQ(p.max, 0.5f);
            EXPECT_FLOAT_EQ(p.min, -0.25f);
            EXPECT_TRUE(p.checkable);
        }
    }
    EXPECT_EQ(peaks, 5u);

    // Another instance's open changes the samples per millisecond for the next change here.
    CaptureModel other;
    other.Open(8000.0f);
    model.DisplayTypeChanged();
    EXPECT_EQ(model.FrameLength(), 8);
}

TEST(CaptureModel, PositivePeriodsReportAMinimumOfZero) {
    CaptureModel model = Opened(8000.0f, 1, 1);
    std::vector<float> block(8, 0.75f);
    Expectation out;
    model.Process(block.data(), 8, out);
    ASSERT_EQ(out.peaks.size(), 1u);
    EXPECT_EQ(out.peaks[0].min, 0.0f);
}

TEST(CaptureModel, HoldSendsTheRestOfTheBlockThenSwitchesOff) {
    CaptureModel model = Opened(8000.0f, 1, 2);
    std::vector<float> block(24, 0.1f);
    Expectation out;
    model.Process(block.data(), 24, out);
    EXPECT_EQ(out.peaks.size(), 3u);
    EXPECT_EQ(model.Active(), 0);
    model.Process(block.data(), 24, out);
    EXPECT_TRUE(out.idle);
}

TEST(CaptureModel, SampleSyncStartsOnTheRisingCrossingAndWaitsForTheView) {
    CaptureModel model = Opened(44100.0f, -1, 1);
    std::vector<float> ramp(1000);
    for (int i = 0; i < 1000; ++i) {
        ramp[i] = (i - 100) / 1000.0f; // crosses zero at sample 100
    }
    Expectation out;
    model.Process(ramp.data(), 500, out);
    EXPECT_FALSE(out.frame);
    model.Process(ramp.data() + 500, 500, out);
    ASSERT_TRUE(out.frame);
    EXPECT_EQ(out.frame_samples[0], ramp[100]);
    EXPECT_EQ(out.frame_samples[799], ramp[899]);

    // Idle until the view answers, then armed again.
    model.Process(ramp.data(), 1000, out);
    EXPECT_FALSE(out.frame);
    model.GuiNotify();
    EXPECT_EQ(model.CaptureState(), 1);
}

TEST(CaptureModel, SteadilyPositiveSignalsNeverTrigger) {
    CaptureModel model = Opened(44100.0f, -1, 1);
    std::vector<float> block(2000, 0.3f);
    Expectation out;
    model.Process(block.data(), 2000, out);
    EXPECT_FALSE(out.frame);
    EXPECT_EQ(model.CaptureState(), 2);
}

TEST(CaptureModel, ADisplayTypeOutsideTheListKeepsTheFrameWithinItsBuffer) {
    // A 200 ms period left over, then a sample mode the list does not name: the frame still ends
    // at 800 samples.
    CaptureModel model = Opened(48000.0f, 10, 1);
    model.SetDisplayType(-7);
    std::vector<float> block(1000, 0.2f);
    block[0] = -0.1f;
    Expectation out;
    model.Process(block.data(), 1000, out);
    EXPECT_TRUE(out.frame);
}

TEST(CaptureModel, BlocksWithoutSamplesOrBufferChangeNothing) {
    CaptureModel model = Opened(8000.0f, 1, 1);
    Expectation out;
    model.Process(nullptr, 100, out);
    model.Process(nullptr, -5, out);
    EXPECT_TRUE(out.peaks.empty());
    std::vector<float> block(8, 0.5f);
    model.Process(block.data(), 8, out);
    EXPECT_EQ(out.peaks.size(), 1u); // the period is whole: the empty calls took no samples
}
