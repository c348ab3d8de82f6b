// The view's host side, driven as the LV2 host drives it: control-port values, display messages,
// redraw requests and paints, and what it says back through its link.
#include "AllocationCounter.h"
#include "DisplayMessage.h"
#include "HostError.h"
#include "PortEvents.h"
#include "ViewHost.h"
#include "gdiplus_recording.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <vector>

namespace {

// Ports by the plug table's order: plug p is port p + 3.
constexpr uint32_t kActive = 5;
constexpr uint32_t kMagnify = 6;
constexpr uint32_t kWaveformRed = 11;

struct RecordingLink : lv2ui::HostLink {
    std::map<uint32_t, float> writes;
    std::vector<int32_t> frame_reads;
    void WriteControl(uint32_t port, float value) override { writes[port] = value; }
    void SendFrameRead(int32_t value) override { frame_reads.push_back(value); }
};

std::vector<uint8_t> SineFrame(double cycles) {
    std::vector<uint8_t> bytes(display_message::kFrameBytes);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = display_message::EncodeFrameSample(
            static_cast<float>(0.8 * std::sin(6.283185307 * cycles * i / bytes.size())));
    }
    return bytes;
}

std::vector<uint32_t> Pixels(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    std::vector<uint32_t> pixels;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(
            cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface));
        pixels.insert(pixels.end(), row, row + w);
    }
    return pixels;
}

// Rows that hold any pixel of another colour than the background's.
int DrawnRows(cairo_surface_t* surface) {
    const std::vector<uint32_t> pixels = Pixels(surface);
    const int w = cairo_image_surface_get_width(surface);
    std::set<int> rows;
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (pixels[i] != pixels[0]) {
            rows.insert(static_cast<int>(i) / w);
        }
    }
    return static_cast<int>(rows.size());
}

class ViewHostTest : public ::testing::Test {
protected:
    void SetUp() override { library = sehost::ModuleLibrary::Load(DISPLAY_MODULE_PATH); }
    std::unique_ptr<lv2ui::ViewHost> Make(int w = 200, int h = 60) {
        return std::make_unique<lv2ui::ViewHost>(*library, link, w, h);
    }
    std::unique_ptr<sehost::ModuleLibrary> library;
    RecordingLink link;
};

TEST_F(ViewHostTest, FreshViewWritesItsFirstUseLookBackAndAsksForAFrame) {
    auto view = Make();
    EXPECT_EQ(view->Ports().PortCount(), 22u);
    EXPECT_TRUE(link.writes.empty()) << "nothing is said before the view opens";
    view->Open();
    view->Open();
    EXPECT_EQ(link.frame_reads, std::vector<int32_t>{-1});
    EXPECT_FLOAT_EQ(link.writes.at(kMagnify), 1.0f);
    EXPECT_FLOAT_EQ(link.writes.at(kWaveformRed), 192.0f);
    EXPECT_EQ(link.writes.count(kActive), 0u) << "the audio half's plugs are not the view's";
}

TEST_F(ViewHostTest, SessionValuesThatArriveBeforeTheOpenAreKept) {
    auto view = Make();
    view->ControlChanged(kMagnify, 2.0f);
    view->ControlChanged(kWaveformRed, 10.0f);
    view->Open();
    EXPECT_EQ(link.writes.count(kMagnify), 0u);
    EXPECT_EQ(link.writes.count(kWaveformRed), 0u);
    EXPECT_EQ(view->PlugValue(kWaveformRed - 3), 10u);
}

TEST_F(ViewHostTest, ControlValuesAreHeldToTheirPortsAndNaNIsIgnored) {
    auto view = Make();
    view->Open();
    const uint32_t magnify = view->PlugValue(3);
    view->ControlChanged(kMagnify, std::nanf(""));
    view->ControlChanged(kWaveformRed, std::nanf(""));
    EXPECT_EQ(view->PlugValue(3), magnify);
    EXPECT_EQ(view->PlugValue(8), 192u);
    view->ControlChanged(kWaveformRed, std::numeric_limits<float>::infinity());
    EXPECT_EQ(view->PlugValue(8), 255u);
    view->ControlChanged(kWaveformRed, -1e30f);
    EXPECT_EQ(view->PlugValue(8), 0u);
    view->ControlChanged(kActive, 2.4f); // rounded to a choice
    EXPECT_EQ(view->PlugValue(2), 2u);
    for (uint32_t port : {0u, 1u, 2u, 3u, 22u, 1000u}) {
        view->ControlChanged(port, 1.0f); // not control ports: nothing to hold
    }
}

TEST_F(ViewHostTest, FramesAreAnsweredAndPaintedAndHoldFreezesThePicture) {
    auto view = Make();
    const std::vector<uint8_t> frame = SineFrame(3.0);
    view->ReceiveFrame(frame.data(), static_cast<int32_t>(frame.size()));
    EXPECT_TRUE(link.frame_reads.empty()) << "a frame before the open is dropped";
    view->Open();
    view->ControlChanged(kActive, 1.0f); // ON
    view->Paint();
    EXPECT_FALSE(view->NeedsPaint());
    EXPECT_EQ(DrawnRows(view->Paint()), 1) << "an empty trace is one line";

    view->ReceiveFrame(frame.data(), static_cast<int32_t>(frame.size()));
    EXPECT_EQ(link.frame_reads.size(), 2u);
    EXPECT_TRUE(view->NeedsPaint());
    EXPECT_GT(DrawnRows(view->Paint()), 30);
    const std::vector<uint32_t> on = Pixels(view->Paint());

    view->ControlChanged(kActive, 2.0f); // HOLD
    const std::vector<uint8_t> other = SineFrame(7.0);
    view->ReceiveFrame(other.data(), static_cast<int32_t>(other.size()));
    EXPECT_EQ(link.frame_reads.size(), 3u) << "answered in every state";
    EXPECT_EQ(Pixels(view->Paint()), on);

    view->ControlChanged(kActive, 1.0f); // ON again
    view->ReceiveFrame(other.data(), static_cast<int32_t>(other.size()));
    EXPECT_NE(Pixels(view->Paint()), on);
}

TEST_F(ViewHostTest, PeaksScrollInAndPaintsAllocateOnlyTheDrawingObjects) {
    auto view = Make();
    view->Open();
    view->ControlChanged(kActive, 1.0f);
    view->ControlChanged(4, 3.0f); // "Display Type" is the audio half's; the view ignores it
    view->Paint();
    for (int i = 0; i < 50; ++i) {
        allocation_counter::Start();
        view->ReceivePeak(display_message::EncodePeak(0.9f, -0.5f));
        EXPECT_EQ(allocation_counter::Stop(), 0u);
        gdiplus_recording::Start();
        allocation_counter::Start();
        view->Paint();
        const size_t allocations = allocation_counter::Stop();
        gdiplus_recording::Stop();
        size_t created = 0;
        for (const auto& call : gdiplus_recording::Calls()) {
            created += call.created != nullptr;
        }
        ASSERT_EQ(allocations, created);
    }
    EXPECT_GT(DrawnRows(view->Paint()), 30);
}

TEST_F(ViewHostTest, FollowsUsableSizesOnly) {
    auto view = Make();
    view->Open();
    view->Paint();
    EXPECT_TRUE(view->Resize(320, 90));
    EXPECT_TRUE(view->NeedsPaint());
    cairo_surface_t* picture = view->Paint();
    EXPECT_EQ(cairo_image_surface_get_width(picture), 320);
    EXPECT_EQ(cairo_image_surface_get_height(picture), 90);
    EXPECT_FALSE(view->Resize(0, 90));
    EXPECT_FALSE(view->Resize(320, 100000));
    EXPECT_EQ(view->Width(), 320);
    EXPECT_THROW(Make(0, 10), sehost::HostError);
}

// Port events as the LV2 host sends them: atoms on the notify port, floats on control ports.
TEST_F(ViewHostTest, PortEventsDeliverWellFormedMessagesOnly) {
    const lv2ui::MessageUrids urids{10, 11, 12, 13};
    auto view = Make();
    view->Open();
    const float on = 1.0f;
    lv2ui::DeliverPortEvent(*view, urids, kActive, sizeof on, 0, &on);
    EXPECT_EQ(view->PlugValue(2), 1u);
    const double wide = 2.0; // a control value of the wrong width
    lv2ui::DeliverPortEvent(*view, urids, kActive, sizeof wide, 0, &wide);
    EXPECT_EQ(view->PlugValue(2), 1u);
    view->Paint();

    std::vector<uint8_t> event(sizeof(LV2_Atom) + display_message::kFrameBytes);
    const std::vector<uint8_t> frame = SineFrame(2.0);
    std::copy(frame.begin(), frame.end(), event.begin() + sizeof(LV2_Atom));
    const auto deliver = [&](LV2_Atom header, uint32_t size, uint32_t port = 3,
                             uint32_t format = 10) {
        std::memcpy(event.data(), &header, sizeof header);
        lv2ui::DeliverPortEvent(*view, urids, port, size, format, event.data());
    };
    const uint32_t full = static_cast<uint32_t>(event.size());
    deliver({800, 11}, full, 3, 99);          // not eventTransfer
    deliver({800, 11}, full, 2);              // not the notify port
    deliver({800, 11}, full - 1);             // body runs past the buffer
    deliver({800, 11}, sizeof(LV2_Atom) - 1); // not even a header
    deliver({800, 77}, full);                 // a type nobody knows
    deliver({2, 12}, full);                   // a peak that is not one int32
    EXPECT_EQ(link.frame_reads.size(), 1u) << "only the open's";
    EXPECT_FALSE(view->NeedsPaint());

    deliver({800, 11}, full);
    EXPECT_EQ(link.frame_reads.size(), 2u);
    EXPECT_GT(DrawnRows(view->Paint()), 10);

    const lv2ui::FrameReadAtom reply = lv2ui::MakeFrameRead(urids, -1);
    EXPECT_EQ(sizeof reply, sizeof(LV2_Atom) + 4);
    EXPECT_EQ(reply.atom.size, 4u);
    EXPECT_EQ(reply.atom.type, 13u);
    EXPECT_EQ(reply.body, -1);
}

} // namespace
