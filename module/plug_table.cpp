// The plug table: what each plug is called, its type, choices and flags, and where the audio
// side keeps its value.
#include "plug_table.h"

#include <cstddef>
#include <iterator>

namespace {

// One row of the plug table. A null text, or flags of kLeaveFlags, is a field that the row
// leaves as the caller put it; a variable of kNoVariable is a plug with none on the audio side.
struct PlugRow {
    Plug plug;
    const char* name;
    int32_t datatype;
    const char* default_text;
    const char* type_text;
    int32_t flags;
    int32_t variable; // byte offset into AudioPlugVariables
};
constexpr int32_t kLeaveFlags = -1;
constexpr int32_t kNoVariable = -1;
constexpr int32_t kView = IO_UI_COMMUNICATION; // a plug of the view alone

constexpr int32_t kInput = offsetof(AudioPlugVariables, input);
constexpr int32_t kDisplayType = offsetof(AudioPlugVariables, display_type);
constexpr int32_t kActive = offsetof(AudioPlugVariables, active);

constexpr PlugRow kPlugTable[] = {
    {PLUG_AUDIO_IN, "Audio_In", PIN_TYPE_AUDIO, nullptr, nullptr, kLeaveFlags, kInput},
    {PLUG_DISPLAY_TYPE, "Display Type", PIN_TYPE_ENUM, "0",
     "Sample Sync=-1,Sample,1ms,2ms,5ms,10ms,20ms,40ms,60ms,80ms,100ms,200ms", kLeaveFlags,
     kDisplayType},
    {PLUG_ACTIVE, "Active", PIN_TYPE_ENUM, nullptr, "OFF,ON,HOLD",
     IO_UI_COMMUNICATION + IO_UI_SHARED, kActive},
    {PLUG_MAGNIFY, "Display Y Magnify", PIN_TYPE_FLOAT, nullptr, nullptr, kView, kNoVariable},
    {PLUG_BACKGROUND_RED, "Background Red", PIN_TYPE_INT, nullptr, "0", kView, kNoVariable},
    {PLUG_BACKGROUND_GREEN, "Background Green", PIN_TYPE_INT, nullptr, "0", kView, kNoVariable},
    {PLUG_BACKGROUND_BLUE, "Background Blue", PIN_TYPE_INT, nullptr, "0", kView, kNoVariable},
    {PLUG_BACKGROUND_ALPHA, "Background Alpha (blend)", PIN_TYPE_INT, nullptr, nullptr, kView,
     kNoVariable},
    {PLUG_WAVEFORM_RED, "Waveform Red", PIN_TYPE_INT, nullptr, "255", kView, kNoVariable},
    {PLUG_WAVEFORM_GREEN, "Waveform Green", PIN_TYPE_INT, nullptr, "255", kView, kNoVariable},
    {PLUG_WAVEFORM_BLUE, "Waveform Blue", PIN_TYPE_INT, nullptr, "255", kView, kNoVariable},
    {PLUG_WAVEFORM_ALPHA, "Waveform Alpha (blend)", PIN_TYPE_INT, nullptr, nullptr, kView,
     kNoVariable},
    {PLUG_SHADING_RED, "Shading Red", PIN_TYPE_INT, nullptr, nullptr, kView, kNoVariable},
    {PLUG_SHADING_GREEN, "Shading Green", PIN_TYPE_INT, nullptr, nullptr, kView, kNoVariable},
    {PLUG_SHADING_BLUE, "Shading Blue", PIN_TYPE_INT, nullptr, nullptr, kView, kNoVariable},
    {PLUG_SHADING_ALPHA, "Shading Alpha (blend)", PIN_TYPE_INT, nullptr, nullptr, kView,
     kNoVariable},
    {PLUG_SHADING_X_PERCENT, "Shading X%", PIN_TYPE_INT, nullptr, nullptr, kView, kNoVariable},
    {PLUG_SHADING_Y_PERCENT, "Shading Y%", PIN_TYPE_INT, nullptr, nullptr, kView, kNoVariable},
    {PLUG_FX_MODE, "GUI_FX_Mode", PIN_TYPE_ENUM, nullptr, "Line,Solid,Line+Smooth,Solid+Smooth",
     kView, kNoVariable},
};

// Both halves address plugs by their enum Plug value, the host by their row: the two must agree.
constexpr bool EveryRowIsItsPlug() {
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(kPlugTable)); ++i) {
        if (kPlugTable[i].plug != i) {
            return false;
        }
    }
    return std::size(kPlugTable) == PLUG_COUNT;
}
static_assert(EveryRowIsItsPlug(), "row i of the plug table must describe plug i");

} // namespace

bool DescribePlug(int32_t index, AudioPlugVariables& variables, SEPinProperties& properties) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(PLUG_COUNT)) {
        return false;
    }
    const PlugRow& row = kPlugTable[index];
    properties.name = row.name;
    properties.direction = DR_IN;
    properties.datatype = row.datatype;
    // Fields a row leaves empty keep what the caller put there.
    if (row.default_text != nullptr) {
        properties.default_text = row.default_text;
    }
    if (row.type_text != nullptr) {
        properties.type_text = row.type_text;
    }
    if (row.flags != kLeaveFlags) {
        properties.flags = row.flags;
    }
    if (row.variable != kNoVariable) {
        properties.variable = reinterpret_cast<char*>(&variables) + row.variable;
    }
    return true;
}
