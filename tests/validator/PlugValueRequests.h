// The view's reads and writes of its plugs, answered as a host answers them: from the values the
// host holds for the instance. Both validators serve them with this one routine, so both hold a
// view to the same rules.
#pragma once

#include "PlugTable.h"
#include "plugs.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace validator {

// Answers GUI_RQ_GET_PIN_VALUE and GUI_RQ_SET_PIN_VALUE. A request that a sound view never makes
// (no place to read into, a plug outside the table) is answered 0 and named in error.
inline intptr_t AnswerPlugValueRequest(uint32_t (&values)[PLUG_COUNT],
                                       const std::vector<sehost::PlugInfo>& plugs, int32_t opcode,
                                       int32_t index, int32_t value, void* ptr, float opt,
                                       std::string& error) {
    if (opcode == GUI_RQ_GET_PIN_VALUE) {
        if (ptr == nullptr) {
            error = "GUI_RQ_GET_PIN_VALUE without a location";
            return 0;
        }
        const uint32_t bits = (index >= 0 && index < PLUG_COUNT) ? values[index] : 0;
        std::memcpy(ptr, &bits, sizeof bits);
        return 1;
    }
    if (index < 0 || index >= PLUG_COUNT) {
        error = "the view wrote plug " + std::to_string(index);
        return 0;
    }
    values[index] = sehost::WrittenBits(plugs[index], value, opt);
    return 1;
}

} // namespace validator
