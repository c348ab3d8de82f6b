// Plays the host for a module's audio side: makes it, reads its plug table, writes plug values
// into its variables and announces them with pin-status events stamped with the sample clock,
// runs its process routine and answers its requests. Where display messages go and which
// buffers the audio pins read are the business of the host that owns it, told through Owner.
#pragma once

#include "ModuleLibrary.h"
#include "PlugTable.h"
#include "se_types.h"

#include <cstdint>
#include <vector>

namespace sehost {

// The status that pin-status events carry for a value change: 1 is the one-off change, after
// which the audio side returns the pin to its resting status 0.
constexpr int32_t kPinStatusChanged = 1;

class AudioSideHost {
public:
    // Left as it is, a host that lends the audio pins no buffers and drops the messages.
    class Owner {
    public:
        virtual ~Owner() = default;
        // The buffer behind an audio plug's pin, or null.
        virtual float* PinBuffer(int32_t) { return nullptr; }
        // A display message from the audio side (AUDIO_RQ_SEND_TO_GUI): data, when not null,
        // holds index bytes and is the side's own, valid only during the call.
        virtual void SendToView(int32_t /*index*/, int32_t /*value*/, const void* /*data*/) {}
    };

    // Makes the audio side and reads its plug table into state (each plug at its initial
    // value). Throws HostError when the module describes none, makes none, or its table is
    // unusable.
    AudioSideHost(const ModuleLibrary& library, PlugValues& state, Owner& owner);
    ~AudioSideHost(); // closes the side
    AudioSideHost(const AudioSideHost&) = delete;
    AudioSideHost& operator=(const AudioSideHost&) = delete;

    // Tells the side its rate and block size, writes every value into its variable, opens it
    // and announces every pin that is not audio.
    void Open(float sample_rate, int32_t block_size);
    // Writes the value held for the plug into its variable and announces the change.
    // Allocates nothing.
    void Announce(const PlugInfo& plug);
    // Runs the process routine over count samples from offset, if the side has one now, and
    // moves the sample clock on. Allocates nothing.
    void Process(int32_t offset, int32_t count) {
        // Looked up for every block: the side may change its routine.
        const ProcessRoutine routine = m_audio->process;
        if (routine != nullptr) {
            ++m_depth;
            routine(m_audio->owner, offset, count);
            --m_depth;
        }
        m_clock += count;
    }
    void AdvanceClock(int64_t count) { m_clock += count; }
    intptr_t Call(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                  float opt = 0.0f);

    // A call into the side is under way.
    bool InCall() const { return m_depth > 0; }
    int64_t Clock() const { return m_clock; }
    // The 32-bit sample clock the module sees: the low 32 bits of Clock.
    int32_t SampleClock32() const { return static_cast<int32_t>(static_cast<uint32_t>(m_clock)); }

private:
    static intptr_t Entry(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                          float opt);
    intptr_t Request(int32_t opcode, int32_t index, int32_t value, void* ptr);
    void WriteVariable(const PlugInfo& plug);

    PlugValues& m_state;
    Owner& m_owner;
    AudioPlugRecord* m_audio = nullptr;
    int32_t m_pin_count = 0;
    int32_t m_depth = 0;
    int64_t m_clock = 0;
};

// Tells the audio side that the value of the plug behind a pin has changed: a pin-status event
// stamped with the 32-bit sample clock. Allocates nothing.
void SendPinStatus(AudioPlugRecord* audio, int32_t pin, int32_t sample_clock);

// Reads the module's plug table through an audio side made for that alone and closed at once;
// the plugs come without variables. Throws HostError like AudioSideHost.
std::vector<PlugInfo> ReadPlugTable(const ModuleLibrary& library);

} // namespace sehost
