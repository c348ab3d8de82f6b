#include "Instance.h"

#include "HostError.h"

#include <algorithm>
#include <cmath>

namespace sehost {

namespace {

// A message larger than this does not come from a display; it is dropped, not copied.
constexpr int32_t kMaxMessageBytes = 1 << 20;
// Deliveries in one round; a pair of halves that keeps answering each other is cut off here.
constexpr int64_t kMaxDeliveriesPerRound = 1 << 16;

void CheckSettings(const InstanceSettings& s) {
    if (!(s.sample_rate >= 1000.0f && s.sample_rate <= 1000000.0f)) {
        throw HostError("sample rate must lie between 1000 and 1000000 Hz");
    }
    if (s.block_size < 1 || s.block_size > 65536) {
        throw HostError("block size must lie between 1 and 65536 samples");
    }
    if (!(s.frames_per_second > 0.0 && s.frames_per_second <= 1000.0)) {
        throw HostError("paints per second must lie above 0 and at most 1000");
    }
}

} // namespace

Instance::Instance(const ModuleLibrary& library, const InstanceSettings& settings)
    : m_settings(settings) {
    CheckSettings(m_settings);
    m_audio = std::make_unique<AudioSideHost>(library, m_state,
                                              static_cast<AudioSideHost::Owner&>(*this));
    try {
        m_view = std::make_unique<ViewSideHost>(
            library, m_state, static_cast<ViewSideHost::Owner&>(*this), m_settings.width,
            m_settings.height, m_settings.host_background);
        m_audio_buffers.resize(m_state.plugs.size());
        for (const PlugInfo& plug : m_state.plugs) {
            if (plug.audio_side && plug.datatype == PIN_TYPE_AUDIO) {
                m_audio_buffers[plug.index].assign(m_settings.block_size, 0.0f);
                if (m_input_plug < 0 && plug.direction == DR_IN) {
                    m_input_plug = plug.index;
                }
            }
        }
        m_audio->Open(m_settings.sample_rate, m_settings.block_size);
        m_view->Open();
        Deliver();
    } catch (...) {
        CloseHalves();
        throw;
    }
}

Instance::~Instance() {
    CloseHalves();
}

void Instance::CloseHalves() {
    m_queue.clear();
    m_view.reset();
    m_audio.reset();
    m_queue.clear(); // whatever the halves said while closing has nobody left to hear it
}

const PlugInfo* Instance::FindPlug(const std::string& name) const {
    for (const PlugInfo& plug : m_state.plugs) {
        if (plug.name == name) {
            return &plug;
        }
    }
    return nullptr;
}

uint32_t Instance::PlugValue(int32_t index) const {
    if (!m_state.Has(index)) {
        throw HostError("no plug " + std::to_string(index));
    }
    return m_state.values[index];
}

void Instance::SetPlug(int32_t index, uint32_t bits) {
    if (!m_state.Has(index)) {
        throw HostError("no plug " + std::to_string(index));
    }
    const PlugInfo& plug = m_state.plugs[index];
    if (plug.datatype == PIN_TYPE_AUDIO) {
        throw HostError("\"" + plug.name + "\" carries audio and takes no value");
    }
    if (plug.datatype != PIN_TYPE_FLOAT) {
        bits = NormaliseInt(plug.datatype, static_cast<int32_t>(bits));
    }
    if (m_state.values[index] == bits) {
        return;
    }
    m_state.values[index] = bits;
    if (plug.audio_side) {
        Queue(Relay::AUDIO_PIN_CHANGED, index, 0, nullptr, 0);
    }
    if (plug.gui_side) {
        Queue(Relay::VIEW_PIN_CHANGED, index, 0, nullptr, 0);
    }
    Deliver();
}

float* Instance::PinBuffer(int32_t plug) {
    // Asked for while the audio side is made, too, before the buffers are.
    const bool made = static_cast<size_t>(plug) < m_audio_buffers.size();
    return made && !m_audio_buffers[plug].empty() ? m_audio_buffers[plug].data() : nullptr;
}

void Instance::SendToView(int32_t index, int32_t value, const void* data) {
    // Copied now: the audio side may reuse its buffer once the call returns.
    Queue(Relay::VIEW_RECEIVE, index, value, data, index);
}

void Instance::NotifyAudio(int32_t index, int32_t value, const void* data) {
    Queue(Relay::AUDIO_NOTIFY, index, value, data, index);
}

void Instance::PlugWritten(const PlugInfo& plug) {
    // Reported after the view's call returns, never into the middle of it.
    if (plug.audio_side) {
        Queue(Relay::AUDIO_PIN_CHANGED, plug.index, 0, nullptr, 0);
    }
    Queue(Relay::VIEW_PIN_CHANGED, plug.index, 0, nullptr, 0);
}

void Instance::Invalidated() {
    Report(Relay::INVALIDATE, 0, 0, nullptr);
}

void Instance::Queue(Relay::Kind kind, int32_t index, int32_t value, const void* data,
                     int32_t size) {
    Delivery d;
    d.kind = kind;
    d.index = index;
    d.value = value;
    if (data != nullptr) {
        if (size > kMaxMessageBytes) {
            ++m_dropped;
            return;
        }
        d.has_data = true;
        if (size > 0) {
            const auto* bytes = static_cast<const uint8_t*>(data);
            d.data.assign(bytes, bytes + size);
        }
    }
    m_queue.push_back(std::move(d));
}

void Instance::Deliver() {
    if (m_audio->InCall() || m_view->InCall() || m_delivering) {
        return;
    }
    m_delivering = true;
    int64_t budget = kMaxDeliveriesPerRound;
    while (!m_queue.empty()) {
        if (budget-- == 0) {
            m_dropped += static_cast<int64_t>(m_queue.size());
            m_queue.clear();
            break;
        }
        Delivery d = std::move(m_queue.front());
        m_queue.pop_front();
        // A message that had data keeps a valid pointer even when it had no bytes.
        uint8_t none = 0;
        void* data = d.has_data ? (d.data.empty() ? &none : d.data.data()) : nullptr;
        Report(d.kind, d.index, d.value, d.has_data ? &d.data : nullptr);
        switch (d.kind) {
        case Relay::VIEW_RECEIVE:
            ++m_messages_to_view;
            m_view->Receive(d.index, d.value, data);
            break;
        case Relay::AUDIO_NOTIFY:
            ++m_notifications_to_audio;
            m_audio->Call(AUDIO_OP_GUI_NOTIFY, d.index, d.value, data);
            break;
        case Relay::VIEW_PIN_CHANGED:
            m_view->Announce(d.index);
            break;
        case Relay::AUDIO_PIN_CHANGED:
            m_audio->Announce(m_state.plugs[d.index]);
            break;
        case Relay::INVALIDATE:
        case Relay::PAINT: // never queued
            break;
        }
    }
    m_delivering = false;
}

int64_t Instance::FrameTick(int64_t frame) const {
    return static_cast<int64_t>(
        std::floor(static_cast<double>(frame) * static_cast<double>(m_settings.sample_rate) /
                   m_settings.frames_per_second));
}

void Instance::Paint() {
    Report(Relay::PAINT, m_settings.width, m_settings.height, nullptr);
    m_view->Paint();
    if (m_paint_observer) {
        m_paint_observer(m_view->Canvas(), Clock());
    }
    Deliver();
}

void Instance::Report(Relay::Kind kind, int32_t index, int32_t value,
                      const std::vector<uint8_t>* data) {
    if (!m_relay_observer) {
        return;
    }
    Relay relay{kind, Clock(), index, value, 0};
    if (data != nullptr) {
        uint32_t h = 2166136261u;
        for (uint8_t byte : *data) {
            h = (h ^ byte) * 16777619u;
        }
        relay.digest = h;
    }
    m_relay_observer(relay);
}

void Instance::Run(const float* input, int64_t count) {
    if (count < 0) {
        throw HostError("a negative number of samples to run");
    }
    const auto paint_if_due = [this] {
        while (Clock() >= FrameTick(m_frame)) {
            if (m_view->NeedsPaint()) {
                Paint();
            }
            ++m_frame;
        }
    };
    paint_if_due();
    int64_t done = 0;
    while (done < count) {
        // Blocks end on paint ticks, so that a paint shows exactly the audio before it.
        const int64_t n = std::min<int64_t>({static_cast<int64_t>(m_settings.block_size),
                                             count - done, FrameTick(m_frame) - Clock()});
        ProcessBlock(input != nullptr ? input + done : nullptr, static_cast<int32_t>(n));
        done += n;
        paint_if_due();
    }
}

void Instance::ProcessBlock(const float* input, int32_t count) {
    if (m_input_plug >= 0) {
        float* buffer = m_audio_buffers[m_input_plug].data();
        if (input != nullptr) {
            std::copy(input, input + count, buffer);
        } else {
            std::fill(buffer, buffer + count, 0.0f);
        }
    }
    m_audio->Process(0, count);
    Deliver();
}

} // namespace sehost
