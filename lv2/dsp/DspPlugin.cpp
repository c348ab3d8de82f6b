#include "DspPlugin.h"

#include "ChannelMean.h"
#include "HostError.h"

#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

namespace lv2dsp {

namespace {

// The block size the audio side is told when the host does not say its largest block, and the
// largest it is ever given at once (a longer run() is cut into blocks of this size).
constexpr int32_t kDefaultBlockSize = 4096;
constexpr int32_t kMaxBlockSize = 65536;
// A message larger than this does not come from a display; it is dropped, not copied.
constexpr int32_t kMaxMessageBytes = 1 << 20;
// Runs of the mix up to this long copy the outputs on the mix's pass; in longer ones the two
// inputs, two outputs and the mix outgrow the first-level cache before the capture reads the mix,
// and the outputs are copied after it.
constexpr uint32_t kMaxCopyInMix = 1024;
constexpr size_t kCacheLine = 64;

// The count samples from a and those from b are apart: none is in both.
bool Apart(const float* a, const float* b, uint32_t count) {
    const std::less<const float*> before;
    return !before(b, a + count) || !before(a, b + count);
}

int32_t MaxBlockLength(const LV2_Feature* const* features, const LV2_URID_Map* map) {
    const void* data = lv2proto::FeatureData(features, LV2_OPTIONS__options);
    if (data == nullptr || map == nullptr) {
        return kDefaultBlockSize;
    }
    const LV2_URID max_block = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
    const LV2_URID atom_int = map->map(map->handle, LV2_ATOM__Int);
    for (auto* o = static_cast<const LV2_Options_Option*>(data); o->key != 0; ++o) {
        if (o->key == max_block && o->type == atom_int && o->size == sizeof(int32_t)) {
            const int32_t value = *static_cast<const int32_t*>(o->value);
            if (value >= 1 && value <= kMaxBlockSize) {
                return value;
            }
        }
    }
    return kDefaultBlockSize;
}

} // namespace

DspPlugin* DspPlugin::Create(const lv2proto::PluginKind& kind, double sample_rate,
                             const char* bundle_path, const LV2_Feature* const* features) {
    auto* map = static_cast<const LV2_URID_Map*>(lv2proto::FeatureData(features, LV2_URID__map));
    const auto* log =
        static_cast<const LV2_Log_Log*>(lv2proto::FeatureData(features, LV2_LOG__log));
    if (map != nullptr && map->map == nullptr) {
        map = nullptr;
    }
    if (map == nullptr) {
        // Such a host has no atom ports to give either: the audio still passes through and is
        // captured, and the messages, with nowhere to go, are counted as dropped.
        lv2proto::LogError(
            log, nullptr,
            "strip-viewer: the host offers no URID map (%s): the audio passes through, "
            "but the plug-in cannot send its view any messages\n",
            LV2_URID__map);
    }
    std::unique_ptr<DspPlugin> plugin;
    try {
        plugin.reset(new DspPlugin(kind.stereo));
        plugin->Open(sample_rate, bundle_path, features, map);
    } catch (const std::exception& e) {
        lv2proto::LogError(log, map, "strip-viewer: %s\n", e.what());
        return nullptr;
    }
    return plugin.release();
}

void DspPlugin::Open(double sample_rate, const char* bundle, const LV2_Feature* const* features,
                     const LV2_URID_Map* map) {
    if (!(sample_rate >= 1000.0 && sample_rate <= 1000000.0)) {
        throw sehost::HostError("a sample rate of " + std::to_string(sample_rate) +
                                " Hz is outside the 1000 to 1000000 Hz the module works at");
    }
    if (map != nullptr) {
        m_urids = lv2proto::MapMessageUrids(*map);
    }

    m_library = sehost::ModuleLibrary::Load(lv2proto::ModulePath(bundle));
    m_side = std::make_unique<sehost::AudioSideHost>(
        *m_library, m_state, static_cast<sehost::AudioSideHost::Owner&>(*this));
    m_layout = lv2proto::LayoutPorts(m_state.plugs, m_stereo);
    if (m_layout.audio_plug < 0) {
        throw sehost::HostError(m_library->Path() + " has no audio input");
    }
    m_control_index.assign(m_layout.controls.size(), -1);
    for (const lv2proto::ControlPort& control : m_layout.controls) {
        const sehost::PlugInfo& plug = m_state.plugs[control.plug];
        if (plug.audio_side) { // the view's plugs are the UI's business
            m_control_index[control.port - lv2proto::kFirstControlPort] =
                static_cast<int32_t>(m_audio_controls.size());
            m_audio_controls.push_back({nullptr, &plug, control.range, kNotSeen});
        }
    }
    m_block_size = MaxBlockLength(features, map);
    if (m_stereo) {
        // The mix starts on a cache line, so that no wide store that writes it splits one.
        const size_t bytes = static_cast<size_t>(m_block_size) * sizeof(float);
        m_mix.assign(static_cast<size_t>(m_block_size) + kCacheLine / sizeof(float), 0.0f);
        void* start = m_mix.data();
        size_t space = m_mix.size() * sizeof(float);
        m_mix_start = static_cast<float*>(std::align(kCacheLine, bytes, start, space));
        m_mix_routine = PairMixRoutines().front();
    }
    m_side->Open(static_cast<float>(sample_rate), m_block_size);
}

void DspPlugin::Connect(uint32_t port, void* data) {
    switch (port) {
    case lv2proto::kPortAudioIn:
        m_in[0] = static_cast<const float*>(data);
        return;
    case lv2proto::kPortAudioOut:
        m_out[0] = static_cast<float*>(data);
        return;
    case lv2proto::kPortControl:
        m_control = static_cast<const LV2_Atom_Sequence*>(data);
        return;
    case lv2proto::kPortNotify:
        m_notify = static_cast<LV2_Atom_Sequence*>(data);
        return;
    default: // the right channel's buffers first: hosts may connect them before every run
        if (m_stereo && port == m_layout.stereo_ports.in_right) {
            m_in[1] = static_cast<const float*>(data);
        } else if (m_stereo && port == m_layout.stereo_ports.out_right) {
            m_out[1] = static_cast<float*>(data);
        } else if (m_stereo && port == m_layout.stereo_ports.channel) {
            m_channel_port = static_cast<const float*>(data);
        } else if (m_layout.Control(port) != nullptr) {
            const int32_t index = m_control_index[port - lv2proto::kFirstControlPort];
            if (index >= 0) {
                m_audio_controls[static_cast<size_t>(index)].port = static_cast<const float*>(data);
            }
        }
        return;
    }
}

// The steps of a run are inline, here and below: at 64-sample blocks the calls alone were a
// measurable part of what a run adds to the capture.
inline bool DspPlugin::CanCopyInMix(uint32_t count) const {
    if (!m_stereo || count > kMaxCopyInMix || m_channel.Channel() != lv2proto::kChannelMix ||
        m_in[0] == nullptr || m_in[1] == nullptr) {
        return false;
    }
    for (const float* out : m_out) {
        if (out == nullptr || !Apart(out, m_in[0], count) || !Apart(out, m_in[1], count)) {
            return false;
        }
    }
    return Apart(m_out[0], m_out[1], count);
}

void DspPlugin::Run(uint32_t count) {
    BeginNotify();
    ReadMessages();
    ReadControls();
    if (m_channel_port != nullptr) {
        m_channel.Take(*m_channel_port);
    }
    const bool copy_in_mix = CanCopyInMix(count);
    const sehost::PlugInfo& input = m_state.plugs[m_layout.audio_plug];
    uint32_t done = 0;
    while (done < count) {
        const auto n = static_cast<int32_t>(
            std::min<uint32_t>(count - done, static_cast<uint32_t>(m_block_size)));
        m_captured = Captured(done, n, copy_in_mix);
        if (m_captured != nullptr) {
            // The audio side reads its input through the pointer in its variable: the host's
            // buffer itself where it can, so that nothing is copied on the way in.
            if (input.variable != nullptr) {
                std::memcpy(input.variable, &m_captured, sizeof m_captured);
            }
            m_in_run = true;
            m_side->Process(0, n);
            m_in_run = false;
        } else {
            m_side->AdvanceClock(n);
        }
        done += static_cast<uint32_t>(n);
    }
    // After the capture: in place, the outputs are the inputs it reads.
    if (!copy_in_mix) {
        PassThrough(count);
    }
}

inline const float* DspPlugin::Captured(uint32_t offset, int32_t count, bool copy_in_mix) {
    const float* left = m_in[0] != nullptr ? m_in[0] + offset : nullptr;
    const float* right = m_in[1] != nullptr ? m_in[1] + offset : nullptr;
    if (!m_stereo || m_channel.Channel() == lv2proto::kChannelLeft) {
        return left;
    }
    if (m_channel.Channel() == lv2proto::kChannelRight) {
        return right;
    }
    if (left == nullptr || right == nullptr) {
        return nullptr;
    }
    float* out_left = copy_in_mix ? m_out[0] + offset : nullptr;
    float* out_right = copy_in_mix ? m_out[1] + offset : nullptr;
    m_mix_routine(left, right, m_mix_start, out_left, out_right, count);
    return m_mix_start;
}

void DspPlugin::PassThrough(uint32_t count) {
    const auto copy = [count](const float* in, float* out) {
        if (out == nullptr || out == in) {
            return;
        }
        if (in != nullptr) {
            std::memmove(out, in, count * sizeof(float));
        } else {
            std::memset(out, 0, count * sizeof(float));
        }
    };
    // A host may hand one channel's input buffer as the other's output: each input is copied
    // before its buffer is written, and two channels that cross are swapped.
    if (m_out[0] != nullptr && m_out[0] == m_in[1]) {
        if (m_out[1] != nullptr && m_out[1] == m_in[0]) {
            std::swap_ranges(m_out[0], m_out[0] + count, m_out[1]);
            return;
        }
        copy(m_in[1], m_out[1]);
        copy(m_in[0], m_out[0]);
        return;
    }
    copy(m_in[0], m_out[0]);
    if (m_stereo) {
        copy(m_in[1], m_out[1]);
    }
}

inline void DspPlugin::ReadControls() {
    for (AudioControl& control : m_audio_controls) {
        const float* port = control.port;
        if (port == nullptr) {
            continue;
        }
        // Most runs see the value of the run before: compared as bits, so that NaN counts too.
        uint32_t seen;
        std::memcpy(&seen, port, sizeof seen);
        if (seen == control.seen) {
            continue;
        }
        control.seen = seen;
        const sehost::PlugInfo& plug = *control.plug;
        const auto bits = lv2proto::PortValueBits(plug, control.range, *port);
        if (!bits || *bits == m_state.values[plug.index]) {
            continue;
        }
        m_state.values[plug.index] = *bits;
        m_side->Announce(plug);
    }
}

inline void DspPlugin::ReadMessages() {
    if (m_control == nullptr || m_urids.sequence == 0 || m_control->atom.type != m_urids.sequence) {
        return;
    }
    // Walked by hand, trusting no size: an event that claims more than the sequence holds ends
    // the walk.
    const uint32_t total = m_control->atom.size;
    if (total < sizeof(LV2_Atom_Sequence_Body)) {
        return;
    }
    const auto* base = reinterpret_cast<const uint8_t*>(&m_control->body);
    uint32_t offset = sizeof(LV2_Atom_Sequence_Body);
    while (total - offset >= sizeof(LV2_Atom_Event)) {
        const auto* event = reinterpret_cast<const LV2_Atom_Event*>(base + offset);
        const uint32_t body = event->body.size;
        if (body > total - offset - sizeof(LV2_Atom_Event)) {
            break;
        }
        if (event->body.type == m_urids.frame_read && body >= sizeof(int32_t)) {
            int32_t value;
            std::memcpy(&value, event + 1, sizeof value);
            m_side->Call(AUDIO_OP_GUI_NOTIFY, 0, value);
        }
        const uint32_t step = lv2_atom_pad_size(sizeof(LV2_Atom_Event) + body);
        if (step > total - offset) {
            break;
        }
        offset += step;
    }
}

inline void DspPlugin::BeginNotify() {
    m_notify_capacity = 0;
    if (m_notify == nullptr || m_urids.sequence == 0) {
        return;
    }
    // The host puts the port's capacity in the atom's size.
    const uint32_t capacity = m_notify->atom.size;
    m_notify->atom.type = m_urids.sequence;
    if (capacity < sizeof(LV2_Atom_Sequence_Body)) {
        m_notify->atom.size = 0; // no room even for the sequence header: every message drops
        return;
    }
    m_notify->atom.size = sizeof(LV2_Atom_Sequence_Body);
    m_notify->body.unit = 0;
    m_notify->body.pad = 0;
    m_notify_capacity = capacity;
}

inline void* DspPlugin::AppendEvent(LV2_URID type, uint32_t size) {
    const uint32_t need = lv2_atom_pad_size(sizeof(LV2_Atom_Event) + size);
    if (!m_in_run || m_notify_capacity == 0 || m_notify_capacity - m_notify->atom.size < need) {
        ++m_dropped;
        return nullptr;
    }
    // Counted from the port's address, not its header's: the host's buffer runs past the header.
    uint8_t* const body = reinterpret_cast<uint8_t*>(m_notify) + sizeof(LV2_Atom);
    auto* event = reinterpret_cast<LV2_Atom_Event*>(body + m_notify->atom.size);
    event->time.frames = 0;
    event->body.type = type;
    event->body.size = size;
    m_notify->atom.size += need;
    ++m_sent;
    return event + 1;
}

float* DspPlugin::PinBuffer(int32_t plug) {
    // The host's own input buffer or the mix: the audio side only reads it.
    return plug == m_layout.audio_plug ? const_cast<float*>(m_captured) : nullptr;
}

void DspPlugin::SendToView(int32_t index, int32_t value, const void* data) {
    if (data == nullptr) {
        if (void* body = AppendEvent(m_urids.peak, sizeof value)) {
            std::memcpy(body, &value, sizeof value);
        }
    } else if (index >= 0 && index <= kMaxMessageBytes) {
        if (void* body = AppendEvent(m_urids.frame, static_cast<uint32_t>(index))) {
            std::memcpy(body, data, static_cast<size_t>(index));
        }
    } else {
        ++m_dropped;
    }
}

} // namespace lv2dsp
