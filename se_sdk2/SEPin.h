// One audio-side pin: the binding of one audio-side plug to the variable that holds its value
// (the module's own variable, or the pin's inline storage), and the route by which the host's
// status changes for that plug reach the module.
#pragma once

#include "se_types.h"

#include <cstdint>

class SEModule_base;

class SEPin {
public:
    // An array entry that no Init reaches stays unbound: no owner, index -1, datatype -1, no
    // variable, status 0. The base ignores status events for unbound pins.
    SEPin();
    virtual ~SEPin();
    SEPin(const SEPin&) = delete;
    SEPin& operator=(const SEPin&) = delete;

    // Binds the pin. With a null variable the value lives in the pin's own storage,
    // for PIN_TYPE_AUDIO the host's buffer address (AUDIO_RQ_PIN_BUFFER).
    void Init(SEModule_base* owner, int32_t index, int32_t datatype, void* variable);

    // Stores the status, tells the owner (OnPlugStateChange) and clears a status of 1 again.
    void SetStatus(int32_t status);

    bool IsBound() const { return m_owner != nullptr; }
    void* Variable() const { return m_variable; }
    SEModule_base* Owner() const { return m_owner; }
    int32_t Index() const { return m_index; }
    int32_t Status() const { return m_status; }
    int32_t Datatype() const { return m_datatype; }
    bool UsesInlineStorage() const { return m_variable == &m_storage; }

    // The inline storage, read as its datatype says.
    int16_t StoredEnum() const { return m_storage.enum_value; }
    uint8_t StoredBool() const { return m_storage.bool_value; }
    float StoredFloat() const { return m_storage.float_value; }
    int32_t StoredInt() const { return m_storage.int_value; }
    float* StoredBuffer() const { return m_storage.buffer; }

private:
    // Four bytes on the 32-bit interface; a buffer address is pointer-sized on 64-bit builds.
    union Storage {
        int16_t enum_value;
        uint8_t bool_value;
        float float_value;
        int32_t int_value;
        float* buffer;
    };

    void* m_variable;
    SEModule_base* m_owner;
    int32_t m_index;
    int32_t m_status;
    int32_t m_datatype;
    Storage m_storage;
};
