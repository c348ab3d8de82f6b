// Audio-side pins.
#include "SEPin.h"

#include "SEModule_base.h"

#include <cstring>

SEPin::SEPin()
    : m_variable(nullptr), m_owner(nullptr), m_index(-1), m_status(0), m_datatype(-1), m_storage() {
    std::memset(&m_storage, 0, sizeof(m_storage));
}

SEPin::~SEPin() = default;

void SEPin::Init(SEModule_base* owner, int32_t index, int32_t datatype, void* variable) {
    m_owner = owner;
    m_index = index;
    m_datatype = datatype;
    m_variable = variable;
    m_status = 0;

    if (variable != nullptr) {
        std::memset(&m_storage, 0, sizeof(m_storage));
        return;
    }
    switch (datatype) {
    case PIN_TYPE_ENUM:
        m_storage.enum_value = 0;
        break;
    case PIN_TYPE_BOOL:
        m_storage.bool_value = 0;
        break;
    case PIN_TYPE_FLOAT:
    case PIN_TYPE_INT:
        std::memset(&m_storage, 0, sizeof(m_storage));
        break;
    case PIN_TYPE_AUDIO:
        m_storage.buffer =
            reinterpret_cast<float*>(owner->CallHost(AUDIO_RQ_PIN_BUFFER, index, 0, nullptr, 0.0f));
        break;
    default:
        return; // no storage for other types: the variable stays null
    }
    m_variable = &m_storage;
}

void SEPin::SetStatus(int32_t status) {
    m_status = status;
    if (m_owner != nullptr) {
        m_owner->OnPlugStateChange(this);
    }
    if (status == 1) {
        m_status = 0;
    }
}
