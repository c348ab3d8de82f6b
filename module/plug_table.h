// The module's plug table as the host reads it, row by row, and the audio side's plug variables
// that its rows point the host at.
#pragma once

#include "plugs.h"
#include "se_types.h"

#include <cstdint>

// The variables the host writes the audio side's plug values into, before each block and on
// each change.
struct AudioPlugVariables {
    float* input = nullptr;   // "Audio_In": the host's buffer of the block's samples
    int16_t display_type = 0; // "Display Type": a DisplayType
    int16_t active = 0;       // "Active": an ActiveState
};

// Fills the host's record for plug `index` from its row, pointing it at the plug's variable
// where the audio side has one. False past the end of the table, negative indices included.
bool DescribePlug(int32_t index, AudioPlugVariables& variables, SEPinProperties& properties);
