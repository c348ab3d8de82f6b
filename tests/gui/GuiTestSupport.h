// What the GUI tests share: a host that keeps plug values, a view made through the exports, and
// read access to the view's state.
#pragma once

#include "FakeHost.h"
#include "GuiModule.h"
#include "plugs.h"

#include <gtest/gtest.h>

#include <cstring>

struct GuiModuleInspector {
    static GuiModule& Of(GuiPlugRecord* plug) {
        return *static_cast<GuiModule*>(static_cast<SEGUI_base*>(plug->owner));
    }
    static int32_t& RequestCount(GuiModule& v) { return v.m_request_count; }
    static int32_t Rebuild(GuiModule& v) { return v.m_rebuild_points ? 1 : 0; }
    static int32_t RingPos(GuiModule& v) { return v.m_ring_pos; }
    static int32_t Scrolling(GuiModule& v) { return v.m_scrolling ? 1 : 0; }
    static float Magnify(GuiModule& v) { return v.m_magnify; }
    static int32_t BackgroundRgb(GuiModule& v) { return v.m_background_rgb; }
    static uint32_t BackgroundArgb(GuiModule& v) { return v.m_background.argb; }
    static uint32_t WaveformArgb(GuiModule& v) { return v.m_waveform.argb; }
    static uint32_t ShadingArgb(GuiModule& v) { return v.m_shading.argb; }
    static int32_t ShadingX(GuiModule& v) { return v.m_shading_x_percent; }
    static int32_t ShadingY(GuiModule& v) { return v.m_shading_y_percent; }
    static int32_t Active(GuiModule& v) { return v.m_active; }
    static float* Upper(GuiModule& v) { return v.m_trace_upper; }
    static float* Lower(GuiModule& v) { return v.m_trace_lower; }
    static Gdiplus::Point* Points(GuiModule& v) { return v.m_points; }
    static int32_t LastWidth(GuiModule& v) { return v.m_last_width; }
    static int32_t LastHeight(GuiModule& v) { return v.m_last_height; }
};
using Inspect = GuiModuleInspector;

// Holds the GUI side's plug values as a host would and answers the value requests from them.
class PlugHost : public FakeHost {
public:
    int32_t ints[PLUG_COUNT] = {};
    float magnify = 1.0f;

    PlugHost() {
        SetAnswer([this](const HostRequest& r) -> intptr_t {
            if (r.index < 0 || r.index >= PLUG_COUNT) {
                return 0;
            }
            if (r.opcode == GUI_RQ_GET_PIN_VALUE) {
                if (r.index == PLUG_MAGNIFY) {
                    std::memcpy(r.ptr, &magnify, 4);
                } else {
                    std::memcpy(r.ptr, &ints[r.index], 4);
                }
            } else if (r.opcode == GUI_RQ_SET_PIN_VALUE) {
                if (r.index == PLUG_MAGNIFY) {
                    magnify = r.opt;
                } else {
                    ints[r.index] = r.value;
                }
            }
            return 0;
        });
    }
};

// A view made through makeModule and initialised from the host's plugs; closed at the end.
class ViewTest : public ::testing::Test {
protected:
    PlugHost host;
    GuiPlugRecord* plug = nullptr;

    void SetUp() override { host.ints[PLUG_ACTIVE] = ACTIVE_ON; }
    void TearDown() override {
        if (plug != nullptr) {
            FakeHost::Dispatch(plug, GUI_OP_CLOSE);
        }
    }
    GuiModule& Make() {
        plug = host.MakeGui();
        FakeHost::Dispatch(plug, GUI_OP_INITIALISE, 1);
        host.Clear();
        return Inspect::Of(plug);
    }
    // Changes a plug in the host and tells the view, as a host does.
    void SetPlug(int32_t index, int32_t value) {
        host.ints[index] = value;
        FakeHost::Dispatch(plug, GUI_OP_PIN_CHANGED, index);
    }
    void SetMagnify(float value) {
        host.magnify = value;
        FakeHost::Dispatch(plug, GUI_OP_PIN_CHANGED, PLUG_MAGNIFY);
    }
    void Peak(uint32_t value) {
        FakeHost::Dispatch(plug, GUI_OP_RECEIVE, 0, static_cast<int32_t>(value));
    }
    void Frame(const uint8_t* bytes, int32_t count) {
        FakeHost::Dispatch(plug, GUI_OP_RECEIVE, count, 0, const_cast<uint8_t*>(bytes));
    }
    size_t Count(int32_t opcode) const { return host.RequestsWithOpcode(opcode).size(); }
};
