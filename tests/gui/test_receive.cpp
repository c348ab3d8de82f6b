// Display messages into the trace, the frame hand-shake and redraw coalescing.
#include "DisplayMessage.h"
#include "GuiTestSupport.h"

#include <vector>

namespace {

class Receive : public ViewTest {};

TEST_F(Receive, PeaksFillTheRingOneEntryEach) {
    GuiModule& view = Make();
    for (int i = 0; i < 5; ++i) {
        Peak(0xFF000000u);
    }
    Peak(0xFF002040u);
    EXPECT_EQ(Inspect::Upper(view)[5], 0.25f);
    EXPECT_EQ(Inspect::Lower(view)[5], -0.5f);
    EXPECT_EQ(Inspect::RingPos(view), 6);
    EXPECT_EQ(Inspect::Scrolling(view), 1);
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 1u) << "coalesced until the next paint";
    EXPECT_EQ(Count(GUI_RQ_NOTIFY_AUDIO), 0u);
    EXPECT_NE(Inspect::Rebuild(view), 0);

    // Bits 16 to 23 are not used; a full lap returns to the same position.
    for (int i = 0; i < 800; ++i) {
        Peak(0xFFAB0000u | static_cast<uint32_t>(i % 200));
    }
    EXPECT_EQ(Inspect::RingPos(view), 6);
    EXPECT_EQ(Inspect::Lower(view)[5], -(799 % 200) / 128.0f);
    EXPECT_EQ(Inspect::Upper(view)[5], 0.0f);
    EXPECT_EQ(Inspect::Lower(view)[6], 0.0f);
    EXPECT_EQ(Inspect::Lower(view)[799], -(793 % 200) / 128.0f);
}

TEST_F(Receive, FrameBytesSplitIntoUpperAndLowerTraces) {
    GuiModule& view = Make();
    Peak(0xFF000000u); // scrolling, ring at 1
    std::vector<uint8_t> bytes(800);
    for (int i = 0; i < 800; ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    Frame(bytes.data(), 800);
    EXPECT_EQ(Inspect::Scrolling(view), 0);
    EXPECT_EQ(Inspect::RingPos(view), 0);
    const float* up = Inspect::Upper(view);
    const float* low = Inspect::Lower(view);
    EXPECT_EQ(up[128], 0.0f);
    EXPECT_EQ(low[128], 0.0f);
    EXPECT_EQ(up[248], 1.0f);
    EXPECT_EQ(low[248], 0.0f);
    EXPECT_EQ(low[8], -1.0f);
    EXPECT_EQ(up[8], 0.0f);
    EXPECT_EQ(low[0], static_cast<float>(-128.0 / 120.0));
    EXPECT_EQ(up[255], static_cast<float>(127.0 / 120.0));
    EXPECT_EQ(up[256 + 255], up[255]);

    // A short frame replaces only its own entries.
    std::vector<uint8_t> loud(400, 248);
    Frame(loud.data(), 400);
    EXPECT_EQ(Inspect::RingPos(view), 400);
    EXPECT_EQ(up[399], 1.0f);
    EXPECT_EQ(low[512 + 8], -1.0f);
    EXPECT_EQ(up[512 + 136], static_cast<float>(8.0 / 120.0));
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 1u);
    EXPECT_EQ(Count(GUI_RQ_NOTIFY_AUDIO), 2u);
    EXPECT_EQ(Inspect::RequestCount(view), 3);
    for (const HostRequest& r : host.RequestsWithOpcode(GUI_RQ_NOTIFY_AUDIO)) {
        EXPECT_EQ(r.value, -1);
        EXPECT_EQ(r.index, 0);
        EXPECT_EQ(r.ptr, nullptr);
        EXPECT_EQ(r.opt, 0.0f);
    }
}

TEST_F(Receive, HoldAndOffStoreNothingButKeepTheFrameHandShake) {
    GuiModule& view = Make();
    const std::vector<uint8_t> full(800, 248);
    Frame(full.data(), 800);
    const std::vector<uint8_t> bytes(800, 200);
    // HOLD freezes the trace, OFF clears it, and an unknown state stores nothing either.
    const struct {
        int32_t state;
        float kept;
    } cases[] = {{ACTIVE_HOLD, 1.0f}, {ACTIVE_OFF, 0.0f}, {7, 0.0f}};
    for (const auto& [state, kept] : cases) {
        SetPlug(PLUG_ACTIVE, state);
        int32_t size[2] = {10, 10};
        FakeHost::Dispatch(plug, GUI_OP_PAINT, 0, 0, size);
        host.Clear();
        Frame(bytes.data(), 800);
        Peak(0xFF007F7Fu);
        EXPECT_EQ(Inspect::Upper(view)[0], kept) << state;
        EXPECT_EQ(Inspect::Upper(view)[799], kept) << state;
        EXPECT_EQ(Inspect::RingPos(view), 0) << state;
        EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 0u) << state;
        EXPECT_EQ(Count(GUI_RQ_NOTIFY_AUDIO), 1u) << state;
    }
}

TEST_F(Receive, MalformedFramesStayInsideTheTraceAndStillAnswer) {
    GuiModule& view = Make();
    // Longer than the trace: cut to 800 (the sanitizer build sees any read past the bytes).
    std::vector<uint8_t> bytes(800, 8);
    Frame(bytes.data(), 1000);
    EXPECT_EQ(Inspect::Lower(view)[799], -1.0f);
    EXPECT_EQ(Inspect::RingPos(view), 0);

    Peak(0xFF000000u);
    Frame(nullptr, 800); // no data: nothing stored, as for an empty frame
    EXPECT_EQ(Inspect::Lower(view)[1], -1.0f);
    EXPECT_EQ(Inspect::RingPos(view), 0);
    EXPECT_EQ(Inspect::Scrolling(view), 0);

    Peak(0xFF000000u);
    Frame(bytes.data(), -5);
    EXPECT_EQ(Inspect::Lower(view)[1], -1.0f);
    EXPECT_EQ(Inspect::RingPos(view), 0);

    // The value alone decides the form: 0x00FFFFFF is a frame, negative values are peaks.
    Frame(nullptr, 0);
    FakeHost::Dispatch(plug, GUI_OP_RECEIVE, 0, 0x00FFFFFF, nullptr);
    FakeHost::Dispatch(plug, GUI_OP_RECEIVE, 0, 0x01000000, nullptr);
    FakeHost::Dispatch(plug, GUI_OP_RECEIVE, 0, -2, nullptr);
    EXPECT_EQ(Inspect::RingPos(view), 2);
    EXPECT_EQ(Count(GUI_RQ_NOTIFY_AUDIO), 5u) << "every frame is answered";
}

} // namespace
