// The module's plug indices, as the plug table numbers them; both halves address plugs by these.
#pragma once

#include <cstdint>

enum Plug : int32_t {
    PLUG_AUDIO_IN = 0,
    PLUG_DISPLAY_TYPE = 1,
    PLUG_ACTIVE = 2,
    PLUG_MAGNIFY = 3,
    PLUG_BACKGROUND_RED = 4,
    PLUG_BACKGROUND_GREEN = 5,
    PLUG_BACKGROUND_BLUE = 6,
    PLUG_BACKGROUND_ALPHA = 7,
    PLUG_WAVEFORM_RED = 8,
    PLUG_WAVEFORM_GREEN = 9,
    PLUG_WAVEFORM_BLUE = 10,
    PLUG_WAVEFORM_ALPHA = 11,
    PLUG_SHADING_RED = 12,
    PLUG_SHADING_GREEN = 13,
    PLUG_SHADING_BLUE = 14,
    PLUG_SHADING_ALPHA = 15,
    PLUG_SHADING_X_PERCENT = 16,
    PLUG_SHADING_Y_PERCENT = 17,
    PLUG_FX_MODE = 18,
    PLUG_COUNT = 19,
};

// Values of "Display Type": the two sample modes, then the peak periods 1 to 10.
enum DisplayType : int16_t {
    DISPLAY_SAMPLE_SYNC = -1,
    DISPLAY_SAMPLE = 0,
    DISPLAY_FIRST_PERIOD = 1,
    DISPLAY_LAST_PERIOD = 10,
};

// Values of "Active".
enum ActiveState : int32_t { ACTIVE_OFF = 0, ACTIVE_ON = 1, ACTIVE_HOLD = 2 };
