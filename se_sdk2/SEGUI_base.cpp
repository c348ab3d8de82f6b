#include "SEGUI_base.h"

#include "se_assert.h"

#include <cstring>

namespace {
// Shared by all GUI objects: callers follow each GetPin at once with one get or set.
GuiPinRef g_shared_pin{0, nullptr};
} // namespace

int32_t GuiPinRef::GetInt() const {
    int32_t location = 0;
    owner->CallHost(GUI_RQ_GET_PIN_VALUE, index, 0, &location, 0.0f);
    return location;
}

float GuiPinRef::GetFloat() const {
    float location = 0.0f;
    owner->CallHost(GUI_RQ_GET_PIN_VALUE, index, 0, &location, 0.0f);
    return location;
}

intptr_t GuiPinRef::SetInt(int32_t value) const {
    return owner->CallHost(GUI_RQ_SET_PIN_VALUE, index, value, nullptr, 0.0f);
}

intptr_t GuiPinRef::SetFloat(float value) const {
    return owner->CallHost(GUI_RQ_SET_PIN_VALUE, index, 0, nullptr, value);
}

SEGUI_base::SEGUI_base(HostCallback callback, intptr_t host_data) : seaudioMaster(callback) {
    std::memset(&m_plug, 0, sizeof m_plug);
    m_plug.magic = GUI_PLUG_MAGIC;
    m_plug.dispatcher = &SEGUI_base::DispatchEntry;
    m_plug.owner = this;
    m_plug.hostData = host_data;
    m_plug.version = 1;
}

SEGUI_base::~SEGUI_base() = default;

intptr_t SEGUI_base::DispatchEntry(GuiPlugRecord* plug, int32_t opcode, int32_t index,
                                   int32_t value, void* ptr, float opt) {
    SEGUI_base* object = static_cast<SEGUI_base*>(plug->owner);
    return object->Dispatch(opcode, index, value, ptr, opt);
}

intptr_t SEGUI_base::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    uint32_t opt_bits = 0;
    std::memcpy(&opt_bits, &opt, sizeof opt_bits);
    const GuiPoint point{index, value};

    switch (opcode) {
    case GUI_OP_INITIALISE:
        Initialise(index == 1);
        return 0;
    case GUI_OP_CLOSE:
        Close();
        delete this;
        return 1;
    case GUI_OP_PAINT:
        Paint(index, static_cast<int32_t*>(ptr));
        return 0;
    case GUI_OP_3:
        PointOp3(ptr, opt_bits, point);
        return 0;
    case GUI_OP_4:
        PointOp4(ptr, opt_bits, point);
        return 0;
    case GUI_OP_5:
        PointOp5(ptr, opt_bits, point);
        return 0;
    case GUI_OP_RECEIVE:
        Receive(value, index, ptr);
        return 0;
    case GUI_OP_PIN_CHANGED: {
        GuiPinRef pin{index, this};
        PinChanged(&pin);
        return 0;
    }
    case GUI_OP_8:
        PtrOp8(ptr);
        return 0;
    case GUI_OP_9:
        PtrOp9(ptr);
        return 0;
    case GUI_OP_10:
        return QueryOp10() ? 1 : 0;
    case GUI_OP_11:
        IndexOp11(index);
        return 0;
    case GUI_OP_12:
        IndexOp12(index);
        return 0;
    default:
        return 0;
    }
}

void SEGUI_base::Initialise(bool) {}
void SEGUI_base::Close() {}
void SEGUI_base::Paint(int32_t, int32_t*) {}
void SEGUI_base::PointOp3(void*, uint32_t, GuiPoint) {}
void SEGUI_base::PointOp4(void*, uint32_t, GuiPoint) {}
void SEGUI_base::PointOp5(void*, uint32_t, GuiPoint) {}
void SEGUI_base::PtrOp8(void*) {}
void SEGUI_base::PtrOp9(void*) {}
bool SEGUI_base::QueryOp10() {
    return false;
}
void SEGUI_base::IndexOp11(int32_t) {}
void SEGUI_base::IndexOp12(int32_t) {}
void SEGUI_base::Receive(int32_t, int32_t, void*) {}
void SEGUI_base::PinChanged(GuiPinRef*) {}

intptr_t SEGUI_base::CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    // A host that made the object without a callback broke the contract; the text and line are
    // what host logs have always shown for it.
    SE_CONTRACT(seaudioMaster != nullptr, "seaudioMaster", "..\\se_sdk2\\SEGUI_base", 134);
    return seaudioMaster(&m_plug, opcode, index, value, ptr, opt);
}

intptr_t SEGUI_base::SendToAudio(int32_t value, int32_t index, void* ptr) {
    return CallHost(GUI_RQ_NOTIFY_AUDIO, index, value, ptr, 0.0f);
}

GuiPinRef* SEGUI_base::GetPin(int32_t index) {
    g_shared_pin.index = index;
    g_shared_pin.owner = this;
    return &g_shared_pin;
}
