// The host-facing base of a module's GUI object: the plug record the host holds, the opcode
// dispatcher, the host callback and typed access to the plug values that the host keeps.
#pragma once

#include "se_types.h"

#include <cstdint>

class SEGUI_base;

// A reference to one plug of a GUI object. Reads and writes go to the host, which holds the
// values; an integer always travels in the value argument and a float in the option argument.
struct GuiPinRef {
    int32_t index;
    SEGUI_base* owner;

    int32_t GetInt() const;
    float GetFloat() const;
    intptr_t SetInt(int32_t value) const;
    intptr_t SetFloat(float value) const;
};

// The {index, value} pair that some opcodes hand on by value.
struct GuiPoint {
    int32_t index;
    int32_t value;
};

class SEGUI_base {
public:
    SEGUI_base(HostCallback callback, intptr_t host_data);
    virtual ~SEGUI_base();

    SEGUI_base(const SEGUI_base&) = delete;
    SEGUI_base& operator=(const SEGUI_base&) = delete;

    virtual intptr_t Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    virtual void Initialise(bool loaded);
    virtual void Close();
    // dc: the device context handle as the host passes it; size: width then height in pixels.
    virtual void Paint(int32_t dc, int32_t* size);
    virtual void PointOp3(void* ptr, uint32_t opt_bits, GuiPoint point);
    virtual void PointOp4(void* ptr, uint32_t opt_bits, GuiPoint point);
    virtual void PointOp5(void* ptr, uint32_t opt_bits, GuiPoint point);
    virtual void PtrOp8(void* ptr);
    virtual void PtrOp9(void* ptr);
    virtual bool QueryOp10();
    virtual void IndexOp11(int32_t index);
    virtual void IndexOp12(int32_t index);
    virtual void Receive(int32_t value, int32_t index, void* ptr);
    virtual void PinChanged(GuiPinRef* pin);

    // The entry stored in the record: finds the object through the record's owner field.
    static intptr_t DispatchEntry(GuiPlugRecord* plug, int32_t opcode, int32_t index, int32_t value,
                                  void* ptr, float opt);

    intptr_t CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    // Parameters in the order in which the receiving side gets a message: value, index, data.
    intptr_t SendToAudio(int32_t value, int32_t index, void* ptr);
    // The one reference shared by every GUI object; valid until the next GetPin anywhere.
    GuiPinRef* GetPin(int32_t index);

    GuiPlugRecord* PlugRecord() { return &m_plug; }

protected:
    HostCallback seaudioMaster;
    GuiPlugRecord m_plug;
};
