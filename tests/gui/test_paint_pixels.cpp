// Pictures painted into a Cairo image surface, checked at chosen pixels.
#include "PaintSupport.h"

namespace {

constexpr uint32_t kSentinel = 0xFF0000FFu; // what the host left on its surface
constexpr uint32_t kBackground = 0xFF204060u;
constexpr uint32_t kWave = 0xFFFFFFFFu;

int Channel(uint32_t pixel, int shift) {
    return static_cast<int>((pixel >> shift) & 0xFF);
}

class PaintPixels : public PaintTest {
protected:
    void SetUp() override {
        PaintTest::SetUp();
        host.ints[PLUG_BACKGROUND_RED] = 0x20;
        host.ints[PLUG_BACKGROUND_GREEN] = 0x40;
        host.ints[PLUG_BACKGROUND_BLUE] = 0x60;
        host.ints[PLUG_BACKGROUND_ALPHA] = 255;
        for (int32_t plug_index = PLUG_WAVEFORM_RED; plug_index <= PLUG_WAVEFORM_ALPHA;
             ++plug_index) {
            host.ints[plug_index] = 255;
        }
    }
    // A frame with +1.0 at entry 10 and -1.0 at entry 20, silence elsewhere.
    void Spikes() {
        std::vector<uint8_t> bytes(800, 128);
        bytes[10] = 248;
        bytes[20] = 8;
        Frame(bytes.data(), 800);
    }
};

TEST_F(PaintPixels, FullScaleReachesTheEdgeRowsForEvenAndOddHeights) {
    Make();
    for (int32_t height : {100, 101}) {
        LentSurface canvas(1000, 110, kSentinel);
        Spikes();
        Paint(canvas, 1000, height);
        const int centre = height / 2;
        EXPECT_EQ(canvas.At(500, centre / 2), kBackground) << height;
        EXPECT_EQ(canvas.At(300, centre), kWave) << height;
        EXPECT_EQ(canvas.At(300, centre - 1), kBackground) << height;
        EXPECT_EQ(canvas.At(10, 0), kWave) << height;
        EXPECT_EQ(canvas.At(20, height - 1), kWave) << height;
        for (int x : {0, 10, 20, 500, 799, 999}) {
            EXPECT_EQ(canvas.At(x, height), kSentinel) << "below the view, x " << x;
        }
        // The clamp: 799 columns of background; the line style leaves column 799 alone.
        EXPECT_EQ(canvas.At(798, 5), kBackground) << height;
        EXPECT_EQ(canvas.At(799, 5), kSentinel) << height;
        EXPECT_EQ(canvas.At(799, centre), kSentinel) << height;
        EXPECT_EQ(canvas.At(900, centre), kSentinel) << height;
    }
}

TEST_F(PaintPixels, OffPaintsOnlyTheBackgroundOrNothing) {
    Make();
    Spikes();
    SetPlug(PLUG_ACTIVE, ACTIVE_OFF);
    {
        LentSurface canvas(120, 110, kSentinel);
        Paint(canvas, 100, 100);
        EXPECT_EQ(canvas.At(50, 50), kBackground);
        EXPECT_EQ(canvas.At(10, 0), kBackground);
        EXPECT_EQ(canvas.At(100, 50), kSentinel);
    }
    SetPlug(PLUG_BACKGROUND_RED, -1);
    LentSurface canvas(120, 110, kSentinel);
    Paint(canvas, 100, 100);
    for (int y = 0; y < 110; y += 7) {
        for (int x = 0; x < 120; x += 3) {
            ASSERT_EQ(canvas.At(x, y), kSentinel) << x << "," << y;
        }
    }
    // Back on without a background: the trace lands on what the host left there.
    SetPlug(PLUG_ACTIVE, ACTIVE_ON);
    Spikes();
    Paint(canvas, 100, 100);
    EXPECT_EQ(canvas.At(50, 49), kSentinel);
    EXPECT_EQ(canvas.At(50, 50), kWave);
}

TEST_F(PaintPixels, GradientRunsFromWaveformToShadingAndBackMirrored) {
    host.ints[PLUG_WAVEFORM_GREEN] = 0;
    host.ints[PLUG_WAVEFORM_BLUE] = 0; // red
    host.ints[PLUG_SHADING_BLUE] = 255;
    host.ints[PLUG_SHADING_ALPHA] = 255; // blue
    host.ints[PLUG_SHADING_X_PERCENT] = 50;
    host.ints[PLUG_SHADING_Y_PERCENT] = 0; // a horizontal ramp over half the width
    host.ints[PLUG_FX_MODE] = 3;
    Make();
    FrameOf(248); // the polygon covers rows 0 to 50
    LentSurface canvas(800, 100, kSentinel);
    Paint(canvas, 800, 100);
    const int end = 799 * 50 / 100;
    const uint32_t start_pixel = canvas.At(1, 25);
    const uint32_t end_pixel = canvas.At(end, 25);
    const uint32_t middle_pixel = canvas.At(end / 2, 25);
    const uint32_t mirrored_pixel = canvas.At(2 * end - 1, 25);
    EXPECT_GT(Channel(start_pixel, 16), 245);
    EXPECT_LT(Channel(start_pixel, 0), 10);
    EXPECT_LT(Channel(end_pixel, 16), 10);
    EXPECT_GT(Channel(end_pixel, 0), 245);
    EXPECT_NEAR(Channel(middle_pixel, 16), 128, 6);
    EXPECT_NEAR(Channel(middle_pixel, 0), 128, 6);
    EXPECT_GT(Channel(mirrored_pixel, 16), 245) << "runs back to the waveform colour";
    EXPECT_EQ(canvas.At(400, 75), kBackground) << "below the polygon";
}

} // namespace
