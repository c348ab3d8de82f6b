// The view's reads and writes of its plugs, answered as a host answers them: from the values the
// host holds for the instance. Both validators serve them with this one routine, so both hold a
// view to the same rules.
#pragma once

#include "PlugTable.h"
#include "plugs.h"

#include <cstdint>
#include <string>
#include <vector>

namespace validator {

// Answers GUI_RQ_GET_PIN_VALUE and GUI_RQ_SET_PIN_VALUE as the hosting library does. A request
// that a sound view never makes (no place to read into, a plug outside the table, a write of the
// audio plug) is answered 0 and named in error.
inline intptr_t AnswerPlugValueRequest(uint32_t (&values)[PLUG_COUNT],
                                       const std::vector<sehost::PlugInfo>& plugs, int32_t opcode,
                                       int32_t index, int32_t value, void* ptr, float opt,
                                       std::string& error) {
    bool changed = false;
    const intptr_t answer =
        plugs.size() == PLUG_COUNT
            ? sehost::AnswerPlugRequest(plugs, values, opcode, index, value, ptr, opt, changed)
            : 0;
    if (answer == 0) {
        error = opcode == GUI_RQ_GET_PIN_VALUE && ptr == nullptr
                    ? "GUI_RQ_GET_PIN_VALUE without a location"
                    : "the view " + std::string(opcode == GUI_RQ_GET_PIN_VALUE ? "read" : "wrote") +
                          " plug " + std::to_string(index);
    }
    return answer;
}

} // namespace validator
