// The audio-side host binding and the pins it builds.
//
// The host sees only the plug record inside the object: its dispatcher entry, its process
// routine and its event entry. The object answers through the host callback, always passing the
// address of its own plug record first.
#pragma once

#include "SEPin.h"
#include "se_types.h"

#include <cstdint>

class SEModule_base;

// The entries that the plug record hands to the host: plain functions with C linkage in the
// platform's default C calling convention.
extern "C" {
// Reads the object from the record's owner word and returns its Dispatch.
intptr_t SEModule_base_DispatchEntry(AudioPlugRecord* plug, int32_t opcode, int32_t index,
                                     int32_t value, void* ptr, float opt);
// Calls the object's HandleEvent.
void SEModule_base_EventEntry(void* object, const HostEvent* event);
// EmptyProcess: the process routine in force until a derived class installs its own.
void SEModule_base_EmptyProcess(void* object, int32_t offset, int32_t count);
}

class SEModule_base {
public:
    SEModule_base(HostCallback callback, intptr_t host_argument);
    virtual ~SEModule_base();
    SEModule_base(const SEModule_base&) = delete;
    SEModule_base& operator=(const SEModule_base&) = delete;

    // ---- Virtual operations, in the order of their slots --------------------------------------
    virtual void OnPlugStateChange(SEPin* pin);
    virtual void HandleEvent(const HostEvent* e);
    virtual intptr_t Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    virtual void Open();
    virtual void Close();
    virtual void SetSampleRate(float rate);
    virtual void SetBlockSize(int32_t size);
    virtual float SampleRate();
    virtual int32_t BlockSize();
    virtual bool GetPinProperties(int32_t index, SEPinProperties* properties);
    virtual void OnOpcode8();
    virtual void OnOpcode8Index(int32_t index);
    virtual void OnEventKind2(int32_t time_stamp, int32_t value, int16_t value2);
    virtual void OnGuiNotify(int32_t value, int32_t index, void* ptr);

    // ---- For the host's factory, derived classes and the pins ---------------------------------
    AudioPlugRecord* PlugRecord() { return &m_plug; }

    // A host request; 0 without a host callback.
    intptr_t CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    // The host's sample clock (AUDIO_RQ_SAMPLE_CLOCK).
    int32_t SampleClock();
    // Installs a process routine; announces a change with AUDIO_RQ_PROCESS_CHANGED.
    void SetProcessRoutine(ProcessSelection selection);

    // The pin at an index. Fails the "m_pins != 0" contract check when there is no pin array;
    // answers null for an index outside the array (the host's index is refused there).
    SEPin* GetPin(int32_t index);
    // The number of entries in the pin array (0 when there is none).
    int32_t PinCount() const { return m_pin_count; }
    // Zeroes the record, then asks GetPinProperties.
    bool QueryPinProperties(int32_t index, SEPinProperties* properties);

    // Pin counts above this are refused like a failed allocation: no pins are built.
    static constexpr int32_t kMaxPinCount = 1 << 16;

protected:
    HostCallback m_host_callback;
    AudioPlugRecord m_plug;
    float m_sample_rate;
    int32_t m_block_size;
    SEPin* m_pins;
    ProcessSelection m_process;
    int32_t m_pin_count; // entries of m_pins, for the bounds check of GetPin

private:
    void ReleasePins();
};
