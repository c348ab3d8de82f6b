#include "LilvRig.h"

#include "AllocationCounter.h"

#include <lv2/atom/util.h>

#include <cstdarg>
#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace lv2test {

namespace {

constexpr uint8_t kGuardByte = 0xEE;
constexpr uint32_t kGuardBytes = 64;

} // namespace

const char* BundleDir() {
    return STRIP_VIEWER_BUNDLE_DIR;
}

LilvRig::LilvRig() : LilvRig(Options{}) {}

LilvRig::LilvRig(const Options& options) : m_options(options) {
    m_world = lilv_world_new();
    LilvNode* bundle =
        lilv_new_file_uri(m_world, nullptr, (std::string(BundleDir()) + "/").c_str());
    lilv_world_load_bundle(m_world, bundle);
    lilv_node_free(bundle);
    const char* plugin_uri = lv2proto::kPluginKinds[m_options.stereo ? 1 : 0].uri;
    LilvNode* uri = lilv_new_uri(m_world, plugin_uri);
    m_plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(m_world), uri);
    lilv_node_free(uri);
    if (m_plugin == nullptr) {
        throw std::runtime_error("the bundle at " + std::string(BundleDir()) + " has no plug-in " +
                                 plugin_uri);
    }

    m_map = {this, &MapEntry};
    m_log_feature = {this, &LogPrintf, &LogVprintf};
    m_map_feature = {LV2_URID__map, &m_map};
    m_log_feature_entry = {LV2_LOG__log, &m_log_feature};
    if (m_options.urid_map) {
        m_features.push_back(&m_map_feature);
    }
    m_features.push_back(&m_log_feature_entry);
    m_features.push_back(nullptr);

    const uint32_t ports = lilv_plugin_get_num_ports(m_plugin);
    m_controls.assign(ports, 0.0f);
    std::vector<float> minimum(ports), maximum(ports);
    lilv_plugin_get_port_ranges_float(m_plugin, minimum.data(), maximum.data(), m_controls.data());
    for (int c = 0; c < 2; ++c) {
        m_in[c].assign(m_options.max_block, 0.0f);
        m_out[c].assign(m_options.max_block, 0.0f);
    }
    m_control_seq.assign(1024, 0);
    m_notify_seq.assign((sizeof(LV2_Atom) + m_options.notify_capacity + kGuardBytes) / 8 + 1, 0);
    QueueRawSequence({}); // an empty sequence

    m_instance = lilv_plugin_instantiate(m_plugin, m_options.sample_rate, m_features.data());
    if (m_instance == nullptr) {
        return;
    }
    lilv_instance_connect_port(m_instance, lv2proto::kPortControl, m_control_seq.data());
    lilv_instance_connect_port(m_instance, lv2proto::kPortNotify, m_notify_seq.data());
    for (uint32_t port = lv2proto::kFirstControlPort; port < ports; ++port) {
        lilv_instance_connect_port(m_instance, port, &m_controls[port]);
    }
    using Wiring = Options::Wiring;
    const int channels = m_options.stereo ? 2 : 1;
    for (int c = 0; c < channels; ++c) {
        const int other = channels - 1 - c;
        m_outputs[c] = m_options.wiring == Wiring::kInPlace   ? m_in[c].data()
                       : m_options.wiring == Wiring::kCrossed ? m_in[other].data()
                                                              : m_out[c].data();
        lilv_instance_connect_port(m_instance,
                                   c == 0 ? lv2proto::kPortAudioIn : PortIndex("audio_in_right"),
                                   m_in[c].data());
        lilv_instance_connect_port(m_instance,
                                   c == 0 ? lv2proto::kPortAudioOut : PortIndex("audio_out_right"),
                                   m_outputs[c]);
    }
    lilv_instance_activate(m_instance);
}

LilvRig::~LilvRig() {
    if (m_instance != nullptr) {
        lilv_instance_deactivate(m_instance);
        lilv_instance_free(m_instance);
    }
    lilv_world_free(m_world);
}

LV2_URID LilvRig::Map(const char* uri) {
    return MapEntry(this, uri);
}

LV2_URID LilvRig::MapEntry(LV2_URID_Map_Handle handle, const char* uri) {
    auto* self = static_cast<LilvRig*>(handle);
    for (size_t i = 0; i < self->m_uris.size(); ++i) {
        if (self->m_uris[i] == uri) {
            return static_cast<LV2_URID>(i + 1);
        }
    }
    self->m_uris.emplace_back(uri);
    return static_cast<LV2_URID>(self->m_uris.size());
}

int LilvRig::LogPrintf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = LogVprintf(handle, type, format, args);
    va_end(args);
    return n;
}

int LilvRig::LogVprintf(LV2_Log_Handle handle, LV2_URID, const char* format, va_list args) {
    char text[1024];
    const int n = std::vsnprintf(text, sizeof text, format, args);
    static_cast<LilvRig*>(handle)->m_log += text;
    return n;
}

uint32_t LilvRig::PortIndex(const std::string& symbol) const {
    LilvNode* node = lilv_new_string(m_world, symbol.c_str());
    const LilvPort* port = lilv_plugin_get_port_by_symbol(m_plugin, node);
    lilv_node_free(node);
    if (port == nullptr) {
        throw std::runtime_error("no port " + symbol);
    }
    return lilv_port_get_index(m_plugin, port);
}

void LilvRig::Set(const std::string& symbol, float value) {
    m_controls[PortIndex(symbol)] = value;
}

void LilvRig::QueueAtom(LV2_URID type, const void* body, uint32_t size) {
    auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(m_control_seq.data());
    const uint32_t capacity = static_cast<uint32_t>(m_control_seq.size() * 8 - sizeof(LV2_Atom));
    std::vector<uint8_t> event(sizeof(LV2_Atom_Event) + size);
    auto* header = reinterpret_cast<LV2_Atom_Event*>(event.data());
    header->time.frames = 0;
    header->body.type = type;
    header->body.size = size;
    if (size > 0) {
        std::memcpy(event.data() + sizeof(LV2_Atom_Event), body, size);
    }
    if (lv2_atom_sequence_append_event(seq, capacity, header) == nullptr) {
        throw std::runtime_error("the control port is full");
    }
}

void LilvRig::QueueRawSequence(const std::vector<uint8_t>& bytes) {
    auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(m_control_seq.data());
    seq->atom.type = Map(LV2_ATOM__Sequence);
    if (bytes.empty()) {
        seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
        seq->body.unit = 0;
        seq->body.pad = 0;
        return;
    }
    std::memcpy(m_control_seq.data(), bytes.data(),
                std::min(bytes.size(), m_control_seq.size() * 8));
}

void LilvRig::Run(const float* input, uint32_t count, const float* right) {
    if (count > m_options.max_block) {
        throw std::runtime_error("block larger than the rig's buffers");
    }
    if (input != nullptr) {
        std::memcpy(m_in[0].data(), input, count * sizeof(float));
    }
    if (right != nullptr) {
        std::memcpy(m_in[1].data(), right, count * sizeof(float));
    }
    auto* notify = reinterpret_cast<LV2_Atom*>(m_notify_seq.data());
    std::memset(m_notify_seq.data(), kGuardByte, m_notify_seq.size() * 8);
    notify->type = Map(LV2_ATOM__Chunk);
    notify->size = m_options.notify_capacity;
    allocation_counter::Start();
    lilv_instance_run(m_instance, count);
    m_run_allocations += allocation_counter::Stop();
    QueueRawSequence({});
    ReadNotify();
}

void LilvRig::ReadNotify() {
    const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(m_notify_seq.data());
    if (seq->atom.type != Map(LV2_ATOM__Sequence)) {
        return;
    }
    const LV2_URID frame = Map(lv2proto::kFrameUri);
    const LV2_URID peak = Map(lv2proto::kPeakUri);
    LV2_ATOM_SEQUENCE_FOREACH(seq, event) {
        Message message;
        const auto* body = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&event->body));
        if (event->body.type == frame) {
            message.frame = true;
            message.data.assign(body, body + event->body.size);
        } else if (event->body.type == peak && event->body.size == 4) {
            std::memcpy(&message.value, body, 4);
        } else {
            throw std::runtime_error("an unknown message on the notify port");
        }
        m_messages.push_back(std::move(message));
    }
}

bool LilvRig::NotifyGuardIntact() const {
    const auto* bytes = reinterpret_cast<const uint8_t*>(m_notify_seq.data());
    const size_t start = sizeof(LV2_Atom) + m_options.notify_capacity;
    for (size_t i = start; i < m_notify_seq.size() * 8; ++i) {
        if (bytes[i] != kGuardByte) {
            return false;
        }
    }
    return true;
}

int64_t LilvRig::Dropped() const {
    const auto* counters = static_cast<const lv2proto::Counters*>(
        lilv_instance_get_extension_data(m_instance, lv2proto::kCountersUri));
    return counters != nullptr ? counters->dropped(lilv_instance_get_handle(m_instance)) : -1;
}

const LV2_Descriptor* LilvRig::Descriptor() const {
    return lilv_instance_get_descriptor(m_instance);
}

} // namespace lv2test
