#include "PlugTable.h"

#include "HostError.h"

#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

namespace sehost {

namespace {

// No real module has this many plugs; a table that never answers false is broken.
constexpr int32_t kMaxPlugs = 4096;

// Whole text as a signed decimal integer, nothing else around it.
std::optional<long long> ParseInteger(const std::string& text) {
    if (text.empty() || text.size() > 20) {
        return std::nullopt;
    }
    size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size()) {
        return std::nullopt;
    }
    for (size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') {
            return std::nullopt;
        }
    }
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) {
        return std::nullopt;
    }
    return value;
}

std::optional<float> ParseFloat(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value) ||
        std::fabs(value) > std::numeric_limits<float>::max()) {
        return std::nullopt;
    }
    return static_cast<float>(value);
}

std::string Text(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

} // namespace

std::vector<Choice> ParseChoiceList(const std::string& text) {
    std::vector<Choice> choices;
    if (text.empty()) {
        return choices;
    }
    long long next = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        const std::string item = text.substr(start, comma - start);
        const size_t equals = item.find('=');
        Choice choice;
        choice.name = item.substr(0, equals);
        long long value = next;
        if (equals != std::string::npos) {
            const auto parsed = ParseInteger(item.substr(equals + 1));
            if (!parsed) {
                throw HostError("choice list \"" + text + "\": \"" + item +
                                "\" has no whole number after '='");
            }
            value = *parsed;
        }
        if (choice.name.empty()) {
            throw HostError("choice list \"" + text + "\" has an empty choice name");
        }
        if (value < std::numeric_limits<int16_t>::min() ||
            value > std::numeric_limits<int16_t>::max()) {
            throw HostError("choice list \"" + text + "\": the value of \"" + choice.name +
                            "\" does not fit 16 bits");
        }
        choice.value = static_cast<int32_t>(value);
        choices.push_back(choice);
        next = value + 1;
        start = comma + 1;
    }
    return choices;
}

std::vector<PlugInfo> DiscoverPlugs(AudioPlugRecord* audio) {
    std::vector<PlugInfo> plugs;
    std::set<std::string> names;
    int32_t pins = 0;
    for (int32_t index = 0;; ++index) {
        if (index >= kMaxPlugs) {
            throw HostError("the module reports more than " + std::to_string(kMaxPlugs) + " plugs");
        }
        SEPinProperties record{};
        if (audio->dispatcher(audio, AUDIO_OP_GET_PIN_PROPERTIES, index, 0, &record, 0.0f) == 0) {
            break;
        }
        PlugInfo plug;
        plug.index = index;
        plug.name = Text(record.name);
        plug.direction = record.direction;
        plug.datatype = record.datatype;
        plug.flags = record.flags;
        if (record.default_text != nullptr) {
            plug.default_text = record.default_text;
        }
        if (record.type_text != nullptr) {
            plug.type_text = record.type_text;
        }
        plug.variable = record.variable;
        if (plug.name.empty()) {
            throw HostError("plug " + std::to_string(index) + " has no name");
        }
        if (!names.insert(plug.name).second) {
            throw HostError("two plugs are named \"" + plug.name + "\"");
        }
        if (plug.datatype == PIN_TYPE_ENUM && plug.type_text) {
            try {
                plug.choices = ParseChoiceList(*plug.type_text);
            } catch (const HostError& e) {
                throw HostError("plug \"" + plug.name + "\": " + e.what());
            }
        }
        plug.audio_side = IsAudioSidePlug(plug.flags);
        plug.gui_side = (plug.flags & IO_UI_COMMUNICATION) != 0;
        if (plug.audio_side) {
            plug.pin_index = pins++;
        }
        plugs.push_back(std::move(plug));
    }
    return plugs;
}

void PlugValues::Reset(std::vector<PlugInfo> table) {
    plugs = std::move(table);
    values.clear();
    for (const PlugInfo& plug : plugs) {
        values.push_back(InitialValue(plug));
    }
}

uint32_t NormaliseInt(int32_t datatype, int32_t value) {
    switch (datatype) {
    case PIN_TYPE_ENUM:
        return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(value)));
    case PIN_TYPE_BOOL:
        return value != 0 ? 1u : 0u;
    default:
        return static_cast<uint32_t>(value);
    }
}

uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float BitsFloat(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint32_t WrittenBits(const PlugInfo& plug, int32_t value, float opt) {
    return plug.datatype == PIN_TYPE_FLOAT ? FloatBits(opt) : NormaliseInt(plug.datatype, value);
}

void WritePlugVariable(const PlugInfo& plug, uint32_t bits) {
    if (plug.variable == nullptr) {
        return;
    }
    switch (plug.datatype) {
    case PIN_TYPE_ENUM: {
        const auto v = static_cast<int16_t>(bits);
        std::memcpy(plug.variable, &v, sizeof v);
        break;
    }
    case PIN_TYPE_BOOL: {
        const auto v = static_cast<uint8_t>(bits != 0);
        std::memcpy(plug.variable, &v, sizeof v);
        break;
    }
    case PIN_TYPE_FLOAT:
    case PIN_TYPE_INT:
        std::memcpy(plug.variable, &bits, sizeof bits);
        break;
    default: // audio buffers are the host's business; an unknown type's width is unknown
        break;
    }
}

intptr_t AnswerPlugRequest(const std::vector<PlugInfo>& plugs, uint32_t* values, int32_t opcode,
                           int32_t index, int32_t value, void* ptr, float opt, bool& changed) {
    changed = false;
    const bool known = index >= 0 && static_cast<size_t>(index) < plugs.size();
    if (opcode == GUI_RQ_GET_PIN_VALUE) {
        if (ptr == nullptr) {
            return 0;
        }
        const uint32_t bits = known ? values[index] : 0;
        std::memcpy(ptr, &bits, sizeof bits);
        return known ? 1 : 0;
    }
    if (!known || plugs[index].datatype == PIN_TYPE_AUDIO) {
        return 0;
    }
    const uint32_t bits = WrittenBits(plugs[index], value, opt);
    changed = values[index] != bits;
    values[index] = bits;
    return 1;
}

uint32_t InitialValue(const PlugInfo& plug) {
    if (!plug.default_text || plug.datatype == PIN_TYPE_AUDIO) {
        return 0;
    }
    std::string ignored;
    return ParsePlugValue(plug, *plug.default_text, ignored).value_or(0);
}

std::optional<uint32_t> ParsePlugValue(const PlugInfo& plug, const std::string& text,
                                       std::string& error) {
    switch (plug.datatype) {
    case PIN_TYPE_ENUM: {
        for (const Choice& choice : plug.choices) {
            if (choice.name == text) {
                return NormaliseInt(PIN_TYPE_ENUM, choice.value);
            }
        }
        // A number is accepted when it is one of the listed values (or any 16-bit value when
        // the plug lists none).
        if (const auto number = ParseInteger(text)) {
            for (const Choice& choice : plug.choices) {
                if (choice.value == *number) {
                    return NormaliseInt(PIN_TYPE_ENUM, choice.value);
                }
            }
            if (plug.choices.empty() && *number >= std::numeric_limits<int16_t>::min() &&
                *number <= std::numeric_limits<int16_t>::max()) {
                return NormaliseInt(PIN_TYPE_ENUM, static_cast<int32_t>(*number));
            }
        }
        error = "\"" + text + "\" is not a choice of \"" + plug.name +
                "\"; valid: " + ChoiceNames(plug);
        return std::nullopt;
    }
    case PIN_TYPE_BOOL:
        if (text == "1" || text == "true" || text == "on") {
            return 1u;
        }
        if (text == "0" || text == "false" || text == "off") {
            return 0u;
        }
        error = "\"" + plug.name + "\" takes 0 or 1 (or true/false, on/off), not \"" + text + "\"";
        return std::nullopt;
    case PIN_TYPE_INT: {
        const auto number = ParseInteger(text);
        if (!number || *number < std::numeric_limits<int32_t>::min() ||
            *number > std::numeric_limits<int32_t>::max()) {
            error = "\"" + plug.name + "\" takes a whole number in the 32-bit range, not \"" +
                    text + "\"";
            return std::nullopt;
        }
        return static_cast<uint32_t>(static_cast<int32_t>(*number));
    }
    case PIN_TYPE_FLOAT: {
        const auto number = ParseFloat(text);
        if (!number) {
            error = "\"" + plug.name + "\" takes a finite number, not \"" + text + "\"";
            return std::nullopt;
        }
        return FloatBits(*number);
    }
    default:
        error =
            "\"" + plug.name + "\" is a " + DatatypeName(plug.datatype) + " plug and cannot be set";
        return std::nullopt;
    }
}

std::string FormatPlugValue(const PlugInfo& plug, uint32_t bits) {
    switch (plug.datatype) {
    case PIN_TYPE_ENUM:
        for (const Choice& choice : plug.choices) {
            if (static_cast<uint32_t>(choice.value) == bits) {
                return choice.name;
            }
        }
        return std::to_string(static_cast<int32_t>(bits));
    case PIN_TYPE_FLOAT: {
        char text[32];
        std::snprintf(text, sizeof text, "%g", static_cast<double>(BitsFloat(bits)));
        return text;
    }
    case PIN_TYPE_AUDIO:
        return "(audio)";
    default:
        return std::to_string(static_cast<int32_t>(bits));
    }
}

std::string ChoiceNames(const PlugInfo& plug) {
    std::string names;
    for (const Choice& choice : plug.choices) {
        names += (names.empty() ? "" : ", ") + choice.name;
    }
    return names.empty() ? "(none listed)" : names;
}

const char* DatatypeName(int32_t datatype) {
    switch (datatype) {
    case PIN_TYPE_ENUM:
        return "choice";
    case PIN_TYPE_BOOL:
        return "switch";
    case PIN_TYPE_AUDIO:
        return "audio";
    case PIN_TYPE_FLOAT:
        return "number";
    case PIN_TYPE_INT:
        return "whole-number";
    default:
        return "unknown-type";
    }
}

} // namespace sehost
