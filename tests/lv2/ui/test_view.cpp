// The plug-in's view driven as an LV2 host drives it: control values and message atoms in,
// plug writes and "frame read" replies out, paints; and the built binary's refusals of hosts it
// cannot live in. Its window is proven in jalv (jalv_view.sh).
#include "AllocationCounter.h"
#include "DisplayMessage.h"
#include "PortEvents.h"
#include "ViewHost.h"
#include "gdiplus_recording.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <lv2/ui/ui.h>

#include <cmath>
#include <cstring>
#include <map>

namespace {

// Plug p is port p + 3.
constexpr uint32_t kActive = 5;
constexpr uint32_t kMagnify = 6;
constexpr uint32_t kWaveformRed = 11;
const lv2ui::MessageUrids kUrids{10, 11, 12, 13}; // eventTransfer, Frame, Peak, FrameRead

struct RecordingLink : lv2ui::HostLink {
    std::map<uint32_t, float> writes;
    int frame_reads = 0;
    void WriteControl(uint32_t port, float value) override { writes[port] = value; }
    void SendFrameRead(int32_t value) override { frame_reads += value == -1; }
};

// Rows of the picture with any pixel unlike the top left one.
int DrawnRows(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const auto first = *reinterpret_cast<const uint32_t*>(data);
    int rows = 0;
    for (int y = 0; y < cairo_image_surface_get_height(surface); ++y) {
        const auto* row =
            reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(surface));
        bool drawn = false;
        for (int x = 0; x < cairo_image_surface_get_width(surface); ++x) {
            drawn = drawn || row[x] != first;
        }
        rows += drawn;
    }
    return rows;
}

// Paints the view and returns how many allocations it made beyond the drawing objects it created.
int64_t AllocationsBeyondDrawingObjects(lv2ui::ViewHost& view) {
    gdiplus_recording::Start();
    allocation_counter::Start();
    view.Paint();
    const size_t allocations = allocation_counter::Stop();
    gdiplus_recording::Stop();
    int64_t created = 0;
    for (const auto& call : gdiplus_recording::Calls()) {
        created += call.created != nullptr;
    }
    return static_cast<int64_t>(allocations) - created;
}

class View : public ::testing::Test {
protected:
    void SetUp() override { library = sehost::ModuleLibrary::Load(DISPLAY_MODULE_PATH); }
    std::unique_ptr<lv2ui::ViewHost> Make(RecordingLink& to) {
        return std::make_unique<lv2ui::ViewHost>(*library, to, 200, 60);
    }
    // A frame atom of a sine as the notify port carries it; size is what the host says it is.
    void SendFrame(lv2ui::ViewHost& view, uint32_t type = 11, uint32_t size = 808,
                   uint32_t port = 3, uint32_t format = 10) {
        uint8_t event[808];
        const LV2_Atom header{800, type};
        std::memcpy(event, &header, sizeof header);
        for (int i = 0; i < 800; ++i) {
            event[8 + i] = display_message::EncodeFrameSample(0.8f * std::sin(i * 0.03f));
        }
        lv2ui::DeliverPortEvent(view, kUrids, port, size, format, event);
    }
    void SetControl(lv2ui::ViewHost& view, uint32_t port, float value) {
        lv2ui::DeliverPortEvent(view, kUrids, port, sizeof value, 0, &value);
    }
    std::unique_ptr<sehost::ModuleLibrary> library;
    RecordingLink link;
};

TEST_F(View, OpensWithTheSessionsValuesOrWritesItsFirstUseLookBack) {
    auto fresh = Make(link);
    EXPECT_EQ(fresh->Ports().PortCount(), 22u);
    fresh->Open();
    fresh->Open();
    EXPECT_EQ(link.frame_reads, 1) << "one reply at the open re-arms a waiting capture";
    EXPECT_FLOAT_EQ(link.writes.at(kMagnify), 1.0f);
    EXPECT_FLOAT_EQ(link.writes.at(kWaveformRed), 192.0f);

    // Values that the host hands over before the first idle call are the session's: kept.
    RecordingLink session;
    auto restored = Make(session);
    SetControl(*restored, kMagnify, 2.0f);
    SetControl(*restored, kWaveformRed, 10.0f);
    restored->Open();
    EXPECT_EQ(session.writes.count(kMagnify) + session.writes.count(kWaveformRed), 0u);
    EXPECT_EQ(restored->PlugValue(8), 10u);
}

TEST_F(View, TakesWellFormedEventsOnlyAndHoldsControlsToTheirPorts) {
    auto view = Make(link);
    view->Open();
    SetControl(*view, kActive, 0.6f); // rounded to ON
    SetControl(*view, kWaveformRed, NAN);
    SetControl(*view, kMagnify, INFINITY);
    const double wide = 0.0;
    lv2ui::DeliverPortEvent(*view, kUrids, kActive, sizeof wide, 0, &wide);
    SetControl(*view, 1000, 0.0f);
    EXPECT_EQ(view->PlugValue(2), 1u);
    EXPECT_EQ(view->PlugValue(8), 192u);
    EXPECT_FLOAT_EQ(sehost::BitsFloat(view->PlugValue(3)), 16.0f);
    view->Paint();

    SendFrame(*view, 11, 808, 3, 99); // not eventTransfer
    SendFrame(*view, 11, 808, 2);     // not the notify port
    SendFrame(*view, 11, 807);        // the body runs past the buffer
    SendFrame(*view, 11, 7);          // not even a header
    SendFrame(*view, 77);             // a type nobody knows
    SendFrame(*view, 12);             // a peak of 800 bytes
    EXPECT_EQ(link.frame_reads, 1) << "only the open's";
    EXPECT_FALSE(view->NeedsPaint());
    SendFrame(*view);
    EXPECT_EQ(link.frame_reads, 2);
    EXPECT_GT(DrawnRows(view->Paint()), 10);
    const struct {
        LV2_Atom atom;
        int32_t body;
    } peak{{4, 12}, display_message::EncodePeak(0.5f, -0.5f)};
    lv2ui::DeliverPortEvent(*view, kUrids, 3, sizeof peak, 10, &peak);
    EXPECT_TRUE(view->NeedsPaint()) << "a peak starts the scrolling envelope";

    const lv2ui::FrameReadAtom reply = lv2ui::MakeFrameRead(kUrids, -1);
    EXPECT_EQ(sizeof reply, sizeof(LV2_Atom) + 4);
    EXPECT_EQ(reply.atom.size, 4u);
    EXPECT_EQ(reply.atom.type, 13u);
}

// Two views in one process keep their own traces; a paint allocates only its drawing objects.
TEST_F(View, ViewsPaintTheirOwnTracesAllocatingOnlyDrawingObjects) {
    RecordingLink other_link;
    auto view = Make(link);
    auto other = Make(other_link);
    for (auto* v : {view.get(), other.get()}) {
        v->Open();
        SetControl(*v, kActive, 1.0f);
        v->Paint();
    }
    for (int i = 0; i < 20; ++i) {
        allocation_counter::Start();
        view->ReceivePeak(display_message::EncodePeak(0.9f, -0.5f));
        EXPECT_EQ(allocation_counter::Stop(), 0u);
        ASSERT_EQ(AllocationsBeyondDrawingObjects(*view), 0);
    }
    EXPECT_GT(DrawnRows(view->Paint()), 30);
    EXPECT_EQ(DrawnRows(other->Paint()), 1) << "an empty trace is one line";
    EXPECT_TRUE(view->Resize(320, 90));
    EXPECT_FALSE(view->Resize(0, 90));
    EXPECT_EQ(cairo_image_surface_get_width(view->Paint()), 320);
}

// The pixels of a picture, row by row.
std::vector<uint32_t> Pixels(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    std::vector<uint32_t> pixels;
    for (int y = 0; y < cairo_image_surface_get_height(surface); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(
            cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface));
        pixels.insert(pixels.end(), row, row + cairo_image_surface_get_width(surface));
    }
    return pixels;
}

// A stereo view marks the channel the plug-in shows in its top right corner, following the
// "Channel" port as the plug-in holds it, and the mark costs the paint no allocation.
TEST_F(View, AStereoViewMarksTheChannelItShows) {
    lv2ui::ViewHost stereo(*library, link, 200, 60, true);
    const uint32_t channel = stereo.Ports().stereo_ports.channel;
    std::vector<uint32_t> pictures[4] = {Pixels(Make(link)->Paint())}; // none, R, L, L+R
    for (int shown = 2; shown >= 0; --shown) {
        SetControl(stereo, channel, static_cast<float>(shown));
        EXPECT_TRUE(stereo.NeedsPaint());
        pictures[3 - shown] = Pixels(stereo.Paint());
        EXPECT_NE(pictures[3 - shown], pictures[2 - shown]);
        for (size_t p = 0; p < pictures[0].size(); ++p) {
            EXPECT_TRUE(pictures[3 - shown][p] == pictures[0][p] || (p % 200 >= 160 && p < 4000));
        }
    }
    SetControl(stereo, channel, NAN);
    EXPECT_FALSE(stereo.NeedsPaint());
    SetControl(stereo, channel, 1.4f); // to the nearest: left
    EXPECT_EQ(Pixels(stereo.Paint()), pictures[2]);
    SetControl(stereo, channel, 9.0f); // held to the top: right
    EXPECT_EQ(Pixels(stereo.Paint()), pictures[1]);
    stereo.Open();
    stereo.Paint();
    EXPECT_EQ(AllocationsBeyondDrawingObjects(stereo), 0);
}

// The built binary refuses, with a message, a host that gives no window to live in or no map.
TEST(ViewBinary, RefusesAHostWithoutParentWindowOrUridMap) {
    void* binary = dlopen(UI_BINARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(binary, nullptr) << dlerror();
    const auto entry =
        reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(dlsym(binary, "lv2ui_descriptor"));
    ASSERT_NE(entry, nullptr);
    const LV2UI_Descriptor* descriptor = entry(0);
    LV2_URID_Map map{nullptr, [](LV2_URID_Map_Handle, const char*) -> LV2_URID { return 1; }};
    const LV2_Feature map_feature{LV2_URID__map, &map};
    const LV2_Feature parent_feature{LV2_UI__parent, reinterpret_cast<void*>(0x1234)};
    const LV2_Feature* no_parent[] = {&map_feature, nullptr};
    const LV2_Feature* no_map[] = {&parent_feature, nullptr};
    const auto write = [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {};
    LV2UI_Widget widget = nullptr;
    for (const LV2_Feature** features : {no_parent, no_map}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(descriptor->instantiate(descriptor, "urn:strip-viewer:display", BUNDLE_DIR, write,
                                          nullptr, &widget, features),
                  nullptr);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(features == no_parent ? "no parent window" : "map"), std::string::npos)
            << said;
    }
    dlclose(binary);
}

} // namespace
