// Paints into a Cairo image surface lent to the view as its device context, and the recorded
// flat calls.
#pragma once

#include "GuiTestSupport.h"
#include "LentSurface.h"
#include "gdiplus_recording.h"

#include <string>
#include <vector>

inline std::vector<std::string> Names(const std::vector<gdiplus_recording::Call>& calls) {
    std::vector<std::string> names;
    for (const auto& call : calls) {
        names.emplace_back(call.name);
    }
    return names;
}

inline std::vector<double> Numbers(const gdiplus_recording::Call& call) {
    return std::vector<double>(call.numbers, call.numbers + call.number_count);
}

class PaintTest : public ViewTest {
protected:
    // Paints once with the recording on and returns the calls.
    std::vector<gdiplus_recording::Call> Paint(LentSurface& canvas, int32_t width, int32_t height) {
        int32_t size[2] = {width, height};
        gdiplus_recording::Start();
        FakeHost::Dispatch(plug, GUI_OP_PAINT, canvas.Handle(), 0, size);
        gdiplus_recording::Stop();
        EXPECT_FALSE(gdiplus_recording::Overflowed());
        return gdiplus_recording::Calls();
    }
    void FrameOf(uint8_t byte) {
        const std::vector<uint8_t> bytes(800, byte);
        Frame(bytes.data(), 800);
    }
};
