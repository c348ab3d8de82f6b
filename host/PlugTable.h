// What the host learns about a module's plugs from the records the audio side fills, and the
// host's own representation of plug values.
#pragma once

#include "se_types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sehost {

struct Choice {
    std::string name;
    int32_t value;
};

// Parses "A=-1,B,C" into {A,-1},{B,0},{C,1}: a choice without "=" takes the previous value plus
// one, the first one 0. Values must fit a 16-bit enumeration. Throws HostError on a malformed
// list (empty name, bad number, value out of range).
std::vector<Choice> ParseChoiceList(const std::string& text);

struct PlugInfo {
    int32_t index = 0;
    std::string name;
    int32_t direction = DR_IN;
    int32_t datatype = PIN_TYPE_ENUM;
    int32_t flags = 0;
    std::optional<std::string> default_text;
    std::optional<std::string> type_text;
    void* variable = nullptr;    // the audio side's variable for this plug, or null
    std::vector<Choice> choices; // enumerations only
    bool audio_side = false;     // has a pin on the audio side
    bool gui_side = false;       // the GUI side reads and writes it
    int32_t pin_index = -1;      // position among the audio-side plugs, -1 for GUI-only plugs
};

// An instance's plug table and the value the host holds for each plug.
struct PlugValues {
    std::vector<PlugInfo> plugs;
    std::vector<uint32_t> values; // by plug index

    // Takes a table, each plug at its initial value.
    void Reset(std::vector<PlugInfo> table);
    bool Has(int32_t index) const {
        return index >= 0 && static_cast<size_t>(index) < plugs.size();
    }
};

// Reads the plug table through the audio dispatcher, index by index, until the first false
// answer. Throws HostError on a table the host cannot use (a plug without a name, a duplicate
// name, a bad choice list, an endless table).
std::vector<PlugInfo> DiscoverPlugs(AudioPlugRecord* audio);

// Plug values are held as 32 raw bits: float bits for PIN_TYPE_FLOAT, a signed integer
// otherwise, already cut to what the plug's variable can hold.
uint32_t NormaliseInt(int32_t datatype, int32_t value);
uint32_t FloatBits(float value);
float BitsFloat(uint32_t bits);

// The bits a view's write of a plug stands for: the float option for PIN_TYPE_FLOAT, the integer
// value, cut to the plug's variable, otherwise.
uint32_t WrittenBits(const PlugInfo& plug, int32_t value, float opt);

// Writes a value into the audio side's variable for the plug, in the variable's own width. Does
// nothing for plugs without a variable, audio plugs and types of unknown width. Allocates nothing.
void WritePlugVariable(const PlugInfo& plug, uint32_t bits);

// Answers a view's GUI_RQ_GET_PIN_VALUE or GUI_RQ_SET_PIN_VALUE from values, one per plug: 1
// when answered, 0 for a plug outside the table, a write of an audio plug or a read with no
// place to put the value. changed tells whether a write changed a value.
intptr_t AnswerPlugRequest(const std::vector<PlugInfo>& plugs, uint32_t* values, int32_t opcode,
                           int32_t index, int32_t value, void* ptr, float opt, bool& changed);

// The value a plug starts with: its default text when it has one it can read, else zero.
uint32_t InitialValue(const PlugInfo& plug);

// Reads a user's text for a plug: a choice name (or a listed value) for enumerations, a number
// for the others. Returns nothing and fills error (naming the valid choices) when it cannot.
std::optional<uint32_t> ParsePlugValue(const PlugInfo& plug, const std::string& text,
                                       std::string& error);

// The value as a user would write it (choice name, number).
std::string FormatPlugValue(const PlugInfo& plug, uint32_t bits);

// "OFF, ON, HOLD"
std::string ChoiceNames(const PlugInfo& plug);

const char* DatatypeName(int32_t datatype);

} // namespace sehost
