// The GUI half of the waveform display: the view's settings and colours, the trace that display
// messages fill, and the paint that draws it into the device context the host lends.
#pragma once

#include "SEGUI_base.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
#include <gdiplus.h>

#include <cstdint>

class GuiModule : public SEGUI_base {
public:
    static constexpr int32_t kTraceLength = 800;
    static constexpr int32_t kPointCount = 1604;
    // The widest view that is drawn: 799 columns plus the closing column of the polygon.
    static constexpr int32_t kMaxWidth = 799;

    GuiModule(HostCallback callback, intptr_t host_argument);
    ~GuiModule() override;

    void Initialise(bool loaded) override;
    void Paint(int32_t dc, int32_t* size) override;
    bool QueryOp10() override;
    void Receive(int32_t value, int32_t index, void* ptr) override;
    void PinChanged(GuiPinRef* pin) override;

    // Counts redraw-worthy events; only the first one after a paint asks the host for a repaint.
    // Every one that asks to marks the points for rebuilding.
    void RequestRedraw(bool mark_points);

    // 0xAARRGGBB from the low 8 bits of each component.
    static uint32_t PackArgb(int32_t alpha, int32_t red, int32_t green, int32_t blue);

private:
    friend struct GuiModuleInspector; // read access for the unit tests

    // One of the view's colours: the values of its four plugs (red, green, blue and alpha, one
    // after another in the table) as the host holds them, and the word the paint draws with.
    struct Colour {
        int32_t red = 0;
        int32_t green = 0;
        int32_t blue = 0;
        int32_t alpha = 0;
        uint32_t argb = 0xFF000000u; // opaque black until the plugs are read

        // Sets the component of the colour's plug number k (0 red to 3 alpha), and packs.
        void Set(int32_t k, int32_t value);
        void Pack() { argb = PackArgb(alpha, red, green, blue); }
    };

    void UpdateBackground();
    void ClearTraces();
    void ReceivePeak(int32_t value);
    void ReceiveFrame(int32_t count, const uint8_t* bytes);
    void RebuildPoints(int32_t width, int32_t height, int32_t centre_row, float scale);

    Gdiplus::GdiplusStartupInput m_gdiplus_input; // how the graphics library is started
    ULONG_PTR m_gdiplus_token = 0;                // and the token that stops it again
    int32_t m_request_count = 0;       // redraw-worthy events since the last paint (saturating)
    bool m_rebuild_points = false;     // the points no longer show the trace, size and magnify
    int32_t m_active = 0;              // "Active": an ActiveState
    int32_t m_fx_mode = 0;             // "GUI_FX_Mode": bit 0 fills, 2 and up smooth
    int32_t m_last_width = -1;         // the width the points were built for; -1 before any
    int32_t m_last_height = -1;        // the height they were built for; -1 before any
    int32_t m_background_rgb = 0;      // the background as 0x00BBGGRR, or -1 when it is off
    Colour m_background;               // whose argb is 0 while the background is off
    Colour m_waveform;                 // the pen, and where the shading gradient starts
    Colour m_shading;                  // where the shading gradient ends
    int32_t m_shading_x_percent = 0;   // the gradient's end point, in percent of the view's width
    int32_t m_shading_y_percent = 0;   // and of its height
    int32_t m_ring_pos = 0;            // where the next peak goes: the oldest entry of a full ring
    bool m_scrolling = false;          // the trace holds peaks (a ring), not one frame
    float m_magnify = 0.0f;            // "Display Y Magnify": full scale over half the height
    float m_trace_upper[kTraceLength]; // each entry's value above the centre line, or 0
    float m_trace_lower[kTraceLength]; // each entry's value below it, or 0
    // The upper trace left to right, then the lower right to left: one polygon, or two lines.
    Gdiplus::Point m_points[kPointCount];
};
