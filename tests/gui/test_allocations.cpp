// After construction the view allocates nothing of its own: receiving, plug changes and paints
// use only the object's storage, and a paint allocates exactly its drawing objects.
#include "AllocationCounter.h"
#include "PaintSupport.h"

namespace {

class Allocations : public PaintTest {};

TEST_F(Allocations, ReceiveAndPlugChangesAllocateNothing) {
    Make();
    const std::vector<uint8_t> bytes(800, 200);
    allocation_counter::Start();
    for (int i = 0; i < 1000; ++i) {
        Peak(0xFF001020u);
    }
    Frame(bytes.data(), 800);
    for (int32_t index = -1; index <= PLUG_COUNT; ++index) {
        FakeHost::Dispatch(plug, GUI_OP_PIN_CHANGED, index);
    }
    EXPECT_EQ(allocation_counter::Stop(), 0u);
}

TEST_F(Allocations, PaintAllocatesItsDrawingObjectsOnlyAndSkipsPointsWhenNotMarked) {
    host.ints[PLUG_SHADING_X_PERCENT] = 100;
    host.ints[PLUG_SHADING_Y_PERCENT] = 100;
    GuiModule& view = Make();
    FrameOf(248);
    LentSurface canvas(800, 100, 0);
    for (int32_t mode = 0; mode < 4; ++mode) {
        SetPlug(PLUG_FX_MODE, mode);
        int32_t size[2] = {799, 100 + mode}; // a new size each time: a full rebuild
        gdiplus_recording::Start();
        allocation_counter::Start();
        FakeHost::Dispatch(plug, GUI_OP_PAINT, canvas.Handle(), 0, size);
        const size_t allocations = allocation_counter::Stop();
        gdiplus_recording::Stop();
        size_t created = 0;
        for (const auto& call : gdiplus_recording::Calls()) {
            created += call.created != nullptr;
        }
        EXPECT_EQ(created, 4u) << "graphics, background, pen, gradient";
        EXPECT_EQ(allocations, created) << "mode " << mode;
    }
    EXPECT_EQ(Inspect::Points(view)[0].Y, 0);

    // The trace changed without marking: the paint draws the old points.
    Inspect::Upper(view)[0] = 0.0f;
    int32_t size[2] = {799, 103};
    FakeHost::Dispatch(plug, GUI_OP_PAINT, canvas.Handle(), 0, size);
    EXPECT_EQ(Inspect::Points(view)[0].Y, 0) << "points computed although not marked";
    FrameOf(8);
    FakeHost::Dispatch(plug, GUI_OP_PAINT, canvas.Handle(), 0, size);
    EXPECT_EQ(Inspect::Points(view)[0].Y, 51) << "marked: rebuilt";
}

} // namespace
