// The view's settings, colours and counted redraw requests, as the host sees them.
#include "GuiTestSupport.h"
#include "gdiplus_recording.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using gdiplus_recording::Call;

std::vector<std::string> Log(const PlugHost& host) {
    std::vector<std::string> log;
    for (const HostRequest& r : host.Requests()) {
        std::string entry = std::to_string(r.opcode) + ":" + std::to_string(r.index);
        if (r.opcode == GUI_RQ_SET_PIN_VALUE) {
            entry +=
                "=" + (r.index == PLUG_MAGNIFY ? std::to_string(r.opt) : std::to_string(r.value));
        }
        if (r.opcode != GUI_RQ_GET_PIN_VALUE) {
            log.push_back(entry);
        }
    }
    return log;
}

TEST(ViewLifetime, HostRequestsBracketTheGraphicsLibrary) {
    PlugHost host;
    std::vector<std::string> seen;
    auto answer = [&](const HostRequest& r) -> intptr_t {
        size_t startups = 0, shutdowns = 0;
        for (const Call& c : gdiplus_recording::Calls()) {
            startups += std::string(c.name) == "GdiplusStartup";
            shutdowns += std::string(c.name) == "GdiplusShutdown";
        }
        seen.push_back(std::to_string(r.opcode) + "/" + std::to_string(r.index) + "/" +
                       std::to_string(r.value) + " up" + std::to_string(startups) + " down" +
                       std::to_string(shutdowns));
        return 0;
    };
    host.SetAnswer(answer);
    gdiplus_recording::Start();
    GuiPlugRecord* plug = host.MakeGui(77);
    EXPECT_EQ(plug->hostData, 77);
    FakeHost::Dispatch(plug, GUI_OP_CLOSE);
    gdiplus_recording::Stop();
    EXPECT_EQ(seen, (std::vector<std::string>{"3/200/100 up0 down0", "4/1/0 up0 down0",
                                              "22/0/0 up1 down0"}));
    std::vector<Call> calls = gdiplus_recording::Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].numbers[0], 1.0) << "start-up input version";
    EXPECT_EQ(calls[1].numbers[0], calls[0].numbers[1]) << "shut down with the token given";
}

class ViewState : public ViewTest {};

TEST_F(ViewState, FreshInstanceWritesTheFirstUseDefaultsInOrder) {
    host.magnify = 0.0f;
    GuiModule& view = Make();
    // Make() cleared the log; run the initialisation again on a fresh instance to see it.
    host.magnify = -0.0f;
    FakeHost::Dispatch(plug, GUI_OP_INITIALISE, 0);
    EXPECT_EQ(Log(host),
              (std::vector<std::string>{"15:3=1.000000", "15:8=192", "15:9=192", "15:10=192",
                                        "15:11=255", "15:7=255", "15:12=255", "15:13=255",
                                        "15:14=255", "15:15=255", "15:16=100", "15:17=100"}));
    EXPECT_EQ(Inspect::BackgroundRgb(view), 0);
    EXPECT_EQ(Inspect::BackgroundArgb(view), 0xFF000000u);
    EXPECT_EQ(Inspect::WaveformArgb(view), 0xFFC0C0C0u);
    EXPECT_EQ(Inspect::ShadingArgb(view), 0xFFFFFFFFu);
    EXPECT_EQ(Inspect::Magnify(view), 1.0f);
    EXPECT_EQ(Inspect::ShadingX(view), 100);
    EXPECT_EQ(Inspect::ShadingY(view), 100);
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 0u);

    host.magnify = std::numeric_limits<float>::quiet_NaN();
    host.Clear();
    FakeHost::Dispatch(plug, GUI_OP_INITIALISE, 0);
    EXPECT_EQ(Log(host).size(), 12u) << "NaN counts as fresh";
    EXPECT_EQ(Inspect::Magnify(view), 1.0f);
}

TEST_F(ViewState, SavedInstanceIsReadAndNeverWritten) {
    host.magnify = 0.5f;
    host.ints[PLUG_BACKGROUND_RED] = 0x12;
    host.ints[PLUG_BACKGROUND_GREEN] = 0x34;
    host.ints[PLUG_BACKGROUND_BLUE] = 0x56;
    host.ints[PLUG_BACKGROUND_ALPHA] = 0x80;
    host.ints[PLUG_WAVEFORM_RED] = 300; // only the low byte counts
    host.ints[PLUG_WAVEFORM_GREEN] = -1;
    host.ints[PLUG_WAVEFORM_ALPHA] = 0x7F;
    host.ints[PLUG_SHADING_BLUE] = 0x99;
    host.ints[PLUG_SHADING_X_PERCENT] = 1000000000;
    GuiModule& view = Make();
    FakeHost::Dispatch(plug, GUI_OP_INITIALISE, 1);
    EXPECT_TRUE(Log(host).empty());
    EXPECT_EQ(Inspect::Magnify(view), 0.5f);
    EXPECT_EQ(Inspect::BackgroundRgb(view), 0x563412);
    EXPECT_EQ(Inspect::BackgroundArgb(view), 0x80123456u);
    EXPECT_EQ(Inspect::WaveformArgb(view), 0x7F2CFF00u);
    EXPECT_EQ(Inspect::ShadingArgb(view), 0x00000099u);
    EXPECT_EQ(Inspect::ShadingX(view), 1000000000);
}

TEST_F(ViewState, BackgroundComponentOfMinusOneSwitchesTheBackgroundOff) {
    host.ints[PLUG_BACKGROUND_ALPHA] = 0x40;
    GuiModule& view = Make();
    SetPlug(PLUG_BACKGROUND_BLUE, -1);
    EXPECT_EQ(Inspect::BackgroundRgb(view), -1);
    EXPECT_EQ(Inspect::BackgroundArgb(view), 0u);
    SetPlug(PLUG_BACKGROUND_ALPHA, 0x1FF);
    EXPECT_EQ(Inspect::BackgroundArgb(view), 0u) << "alpha alone does not switch it on";
    SetPlug(PLUG_BACKGROUND_BLUE, 255); // 255 is a colour, not the switch
    EXPECT_EQ(Inspect::BackgroundRgb(view), 0xFF0000);
    EXPECT_EQ(Inspect::BackgroundArgb(view), 0xFF0000FFu);
    SetPlug(PLUG_SHADING_GREEN, 300);
    SetPlug(PLUG_WAVEFORM_ALPHA, -1);
    EXPECT_EQ(Inspect::ShadingArgb(view) & 0x0000FF00u, 0x2C00u);
    EXPECT_EQ(Inspect::WaveformArgb(view) >> 24, 0xFFu);
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 0u) << "colours show at the next paint";
}

TEST_F(ViewState, PlugChangesRequestRedrawsOnlyWhereTheStateCallsForIt) {
    GuiModule& view = Make();
    Peak(0xFF004000u); // leaves data in the trace and one request outstanding
    int32_t size[2] = {100, 100};
    FakeHost::Dispatch(plug, GUI_OP_PAINT, 0, 0, size);
    host.Clear();

    SetMagnify(3.0f); // ON: stored, nothing sent
    SetPlug(PLUG_FX_MODE, 99);
    SetPlug(PLUG_ACTIVE, 7); // an unknown state acts as ON
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 0u);
    host.Clear();
    for (int32_t index : {0, 1, 19, -1, 1000}) {
        FakeHost::Dispatch(plug, GUI_OP_PIN_CHANGED, index);
    }
    EXPECT_TRUE(host.Requests().empty()) << "audio-side and unknown plugs are not even read";
    EXPECT_EQ(Inspect::Magnify(view), 3.0f);
    EXPECT_EQ(Inspect::Rebuild(view), 0);
    EXPECT_EQ(Inspect::Upper(view)[0], 0.5f);

    SetPlug(PLUG_ACTIVE, ACTIVE_HOLD);
    SetPlug(PLUG_FX_MODE, 1); // HOLD: repaint, points untouched
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 1u);
    EXPECT_EQ(Inspect::Rebuild(view), 0);
    FakeHost::Dispatch(plug, GUI_OP_PAINT, 0, 0, size);
    SetMagnify(2.0f); // HOLD: repaint with new points
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 2u);
    EXPECT_NE(Inspect::Rebuild(view), 0);

    FakeHost::Dispatch(plug, GUI_OP_PAINT, 0, 0, size);
    Peak(0xFF000000u);                // ignored in HOLD
    SetPlug(PLUG_ACTIVE, ACTIVE_OFF); // clears the trace and marks the points
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 3u);
    EXPECT_EQ(Inspect::Upper(view)[0], 0.0f);
    EXPECT_EQ(Inspect::RingPos(view), 1) << "the ring position survives switching off";
    SetPlug(PLUG_ACTIVE, ACTIVE_OFF); // outstanding: counted, not sent
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 3u);
    EXPECT_EQ(Inspect::RequestCount(view), 2);
}

TEST_F(ViewState, RedrawCountSaturatesInsteadOfOverflowing) {
    GuiModule& view = Make();
    Inspect::RequestCount(view) = std::numeric_limits<int32_t>::max() - 1;
    Peak(0xFF000101u);
    Peak(0xFF000101u);
    SetPlug(PLUG_ACTIVE, ACTIVE_OFF);
    EXPECT_EQ(Inspect::RequestCount(view), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 0u);
    int32_t size[2] = {10, 10};
    FakeHost::Dispatch(plug, GUI_OP_PAINT, 0, 0, size);
    SetPlug(PLUG_ACTIVE, ACTIVE_OFF);
    EXPECT_EQ(Count(GUI_RQ_INVALIDATE), 1u) << "a paint lets the next request through";
}

} // namespace
