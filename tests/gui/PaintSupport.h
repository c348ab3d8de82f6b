// A Cairo image surface lent to the view as its device context, and the recorded flat calls.
#pragma once

#include "GuiTestSupport.h"
#include "cairo_dc.h"
#include "gdiplus_recording.h"

#include <cairo.h>

#include <string>
#include <vector>

class Canvas {
public:
    Canvas(int width, int height, uint32_t fill)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)) {
        uint32_t* pixels = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface));
        const int stride = cairo_image_surface_get_stride(surface) / 4;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                pixels[y * stride + x] = fill;
            }
        }
        cairo_surface_mark_dirty(surface);
        dc = CairoDcLend(surface);
    }
    ~Canvas() {
        CairoDcReturn(dc);
        cairo_surface_destroy(surface);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int32_t Handle() const { return static_cast<int32_t>(reinterpret_cast<intptr_t>(dc)); }
    // Premultiplied ARGB as Cairo stores it; opaque colours read as their ARGB word.
    uint32_t At(int x, int y) {
        cairo_surface_flush(surface);
        const uint32_t* pixels =
            reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface));
        return pixels[y * (cairo_image_surface_get_stride(surface) / 4) + x];
    }

    cairo_surface_t* surface;
    HDC dc;
};

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
    std::vector<gdiplus_recording::Call> Paint(Canvas& canvas, int32_t width, int32_t height) {
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
