// The values each plug means, for hosts that offer the plugs as controls with a range: the plug
// table gives choices but no ranges. Data beside the table, by plug; the module itself does not
// export it.
#pragma once

#include "plugs.h"

struct PlugRange {
    float min = 0.0f;
    float max = 0.0f;
    // The name of the lowest value, when it stands for something other than its number.
    const char* min_label = nullptr;
};

// For the whole-number and real plugs; the others' ranges follow from their type and choices.
inline constexpr PlugRange kPlugRanges[PLUG_COUNT] = {
    {},                               // PLUG_AUDIO_IN
    {},                               // PLUG_DISPLAY_TYPE: its choices
    {},                               // PLUG_ACTIVE: its choices
    {0.0f, 16.0f},                    // PLUG_MAGNIFY
    {-1.0f, 255.0f, "No background"}, // PLUG_BACKGROUND_RED
    {-1.0f, 255.0f, "No background"}, // PLUG_BACKGROUND_GREEN
    {-1.0f, 255.0f, "No background"}, // PLUG_BACKGROUND_BLUE
    {0.0f, 255.0f},                   // PLUG_BACKGROUND_ALPHA
    {0.0f, 255.0f},                   // PLUG_WAVEFORM_RED
    {0.0f, 255.0f},                   // PLUG_WAVEFORM_GREEN
    {0.0f, 255.0f},                   // PLUG_WAVEFORM_BLUE
    {0.0f, 255.0f},                   // PLUG_WAVEFORM_ALPHA
    {0.0f, 255.0f},                   // PLUG_SHADING_RED
    {0.0f, 255.0f},                   // PLUG_SHADING_GREEN
    {0.0f, 255.0f},                   // PLUG_SHADING_BLUE
    {0.0f, 255.0f},                   // PLUG_SHADING_ALPHA
    {0.0f, 100.0f},                   // PLUG_SHADING_X_PERCENT
    {0.0f, 100.0f},                   // PLUG_SHADING_Y_PERCENT
    {},                               // PLUG_FX_MODE: its choices
};

// Where a host that shows the display as soon as it is inserted (an LV2 host, say) starts a plug
// other than the module starts it: "Active" ON, so that the signal shows at once. The module and
// its modular host keep their own start.
struct PlugStart {
    Plug plug;
    int32_t value;
};
inline constexpr PlugStart kInsertedStarts[] = {{PLUG_ACTIVE, ACTIVE_ON}};
