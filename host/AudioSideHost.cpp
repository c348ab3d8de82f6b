#include "AudioSideHost.h"

#include "HostError.h"

#include <cstring>

namespace sehost {

std::vector<PlugInfo> ReadPlugTable(const ModuleLibrary& library) {
    AudioSideHost::Owner deaf;
    PlugValues state;
    { const AudioSideHost side(library, state, deaf); }
    for (PlugInfo& plug : state.plugs) {
        plug.variable = nullptr; // they went with the side
    }
    return state.plugs;
}

AudioSideHost::AudioSideHost(const ModuleLibrary& library, PlugValues& state, Owner& owner)
    : m_state(state), m_owner(owner) {
    ModuleProperties properties{};
    if (library.GetProperties()(0, &properties) == 0) {
        throw HostError(library.Path() + " describes no module");
    }
    auto* audio = static_cast<AudioPlugRecord*>(
        library.MakeModule()(0, MODULE_TYPE_AUDIO, &Entry, reinterpret_cast<intptr_t>(this)));
    if (audio == nullptr || audio->magic != AUDIO_PLUG_MAGIC || audio->dispatcher == nullptr ||
        audio->event == nullptr) {
        throw HostError(library.Path() + " made no usable audio side"); // nothing to close safely
    }
    m_audio = audio;
    try {
        m_state.Reset(DiscoverPlugs(m_audio));
    } catch (...) {
        Call(AUDIO_OP_CLOSE);
        throw;
    }
    for (const PlugInfo& plug : m_state.plugs) {
        m_pin_count += plug.audio_side ? 1 : 0;
    }
}

AudioSideHost::~AudioSideHost() {
    Call(AUDIO_OP_CLOSE); // the side deletes itself
}

void AudioSideHost::Open(float sample_rate, int32_t block_size) {
    Call(AUDIO_OP_SET_SAMPLE_RATE, 0, 0, nullptr, sample_rate);
    Call(AUDIO_OP_SET_BLOCK_SIZE, 0, block_size);
    for (const PlugInfo& plug : m_state.plugs) {
        if (plug.audio_side) {
            WriteVariable(plug);
        }
    }
    Call(AUDIO_OP_OPEN);
    // The pins exist only after the open: tell the side what every value is now.
    for (const PlugInfo& plug : m_state.plugs) {
        if (plug.audio_side && plug.datatype != PIN_TYPE_AUDIO) {
            Announce(plug);
        }
    }
}

void AudioSideHost::WriteVariable(const PlugInfo& plug) {
    if (plug.variable != nullptr && plug.datatype == PIN_TYPE_AUDIO) {
        float* buffer = m_owner.PinBuffer(plug.index);
        std::memcpy(plug.variable, &buffer, sizeof buffer);
        return;
    }
    WritePlugVariable(plug, m_state.values[plug.index]);
}

void AudioSideHost::Announce(const PlugInfo& plug) {
    WriteVariable(plug);
    if (plug.pin_index < 0 || plug.pin_index >= m_pin_count) {
        return;
    }
    ++m_depth;
    SendPinStatus(m_audio, plug.pin_index, SampleClock32());
    --m_depth;
}

void SendPinStatus(AudioPlugRecord* audio, int32_t pin, int32_t sample_clock) {
    HostEvent event{};
    event.time_stamp = sample_clock;
    event.kind = EVENT_PIN_STATUS;
    event.value = kPinStatusChanged;
    event.target = pin;
    audio->event(audio->owner, &event);
}

intptr_t AudioSideHost::Call(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    ++m_depth;
    const intptr_t result = m_audio->dispatcher(m_audio, opcode, index, value, ptr, opt);
    --m_depth;
    return result;
}

intptr_t AudioSideHost::Entry(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                              float) {
    auto* self = HostOfRecord<AudioSideHost, AudioPlugRecord>(record, AUDIO_PLUG_MAGIC);
    try { // nothing may unwind into the module
        return self != nullptr ? self->Request(opcode, index, value, ptr) : 0;
    } catch (...) {
        return 0;
    }
}

// Inline in Entry: every request passes here, a display message most often.
inline intptr_t AudioSideHost::Request(int32_t opcode, int32_t index, int32_t value, void* ptr) {
    switch (opcode) {
    case AUDIO_RQ_SAMPLE_CLOCK:
        return SampleClock32();
    case AUDIO_RQ_PIN_COUNT:
        return m_pin_count;
    case AUDIO_RQ_PIN_BUFFER:
        for (const PlugInfo& plug : m_state.plugs) {
            if (plug.pin_index == index && plug.datatype == PIN_TYPE_AUDIO) {
                return reinterpret_cast<intptr_t>(m_owner.PinBuffer(plug.index));
            }
        }
        return 0;
    case AUDIO_RQ_SEND_TO_GUI:
        m_owner.SendToView(index, value, ptr);
        return 0;
    default: // AUDIO_RQ_IDLE, AUDIO_RQ_PROCESS_CHANGED and anything unknown
        return 0;
    }
}

} // namespace sehost
