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

    void UpdateBackground();
    void ClearTraces();
    void ReceivePeak(int32_t value);
    void ReceiveFrame(int32_t count, const uint8_t* bytes);
    void RebuildPoints(int32_t width, int32_t height, int32_t centre_row, float scale);

    Gdiplus::GdiplusStartupInput m_gdiplus_input;
    ULONG_PTR m_gdiplus_token = 0;
    int32_t m_request_count = 0;
    int32_t m_active = 0;
    int32_t m_fx_mode = 0;
    int32_t m_last_width = -1;
    int32_t m_last_height = -1;
    int32_t m_rebuild_points = 0;
    int32_t m_background_rgb = 0;
    int32_t m_background_red = 0;
    int32_t m_background_green = 0;
    int32_t m_background_blue = 0;
    int32_t m_background_alpha = 0;
    int32_t m_waveform_red = 0;
    int32_t m_waveform_green = 0;
    int32_t m_waveform_blue = 0;
    int32_t m_waveform_alpha = 0;
    int32_t m_shading_red = 0;
    int32_t m_shading_green = 0;
    int32_t m_shading_blue = 0;
    int32_t m_shading_alpha = 0;
    int32_t m_shading_x_percent = 0;
    int32_t m_shading_y_percent = 0;
    uint32_t m_background_argb = 0xFF000000u;
    uint32_t m_waveform_argb = 0xFF000000u;
    uint32_t m_shading_argb = 0xFF000000u;
    int32_t m_ring_pos = 0;
    int32_t m_scrolling = 0;
    float m_magnify = 0.0f;
    float m_trace_upper[kTraceLength];
    float m_trace_lower[kTraceLength];
    Gdiplus::Point m_points[kPointCount];
};
