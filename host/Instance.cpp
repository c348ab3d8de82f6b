#include "Instance.h"

#include "HostError.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sehost {

namespace {

// Every live instance, so that a callback's host argument is trusted only when it names one.
std::vector<Instance*>& LiveInstances() {
    static std::vector<Instance*> live;
    return live;
}

bool IsLive(const Instance* instance) {
    const auto& live = LiveInstances();
    return std::find(live.begin(), live.end(), instance) != live.end();
}

void Unregister(const Instance* instance) {
    auto& live = LiveInstances();
    live.erase(std::remove(live.begin(), live.end(), instance), live.end());
}

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
    if (s.width < 1 || s.width > 8192 || s.height < 1 || s.height > 8192) {
        throw HostError("the view must be 1 to 8192 pixels wide and high");
    }
}

} // namespace

Instance::Instance(const ModuleLibrary& library, const InstanceSettings& settings)
    : m_settings(settings) {
    CheckSettings(m_settings);
    ModuleProperties properties{};
    if (library.GetProperties()(0, &properties) == 0) {
        throw HostError(library.Path() + " describes no module");
    }
    LiveInstances().push_back(this);
    try {
        const auto self = reinterpret_cast<intptr_t>(this);
        m_audio = static_cast<AudioPlugRecord*>(
            library.MakeModule()(0, MODULE_TYPE_AUDIO, &CallbackEntry, self));
        if (m_audio == nullptr || m_audio->magic != AUDIO_PLUG_MAGIC ||
            m_audio->dispatcher == nullptr || m_audio->event == nullptr) {
            m_audio = nullptr; // nothing the host can close safely
            throw HostError(library.Path() + " made no usable audio side");
        }
        m_view = static_cast<GuiPlugRecord*>(
            library.MakeModule()(0, MODULE_TYPE_GUI, &CallbackEntry, self));
        if (m_view == nullptr || m_view->magic != GUI_PLUG_MAGIC || m_view->dispatcher == nullptr) {
            m_view = nullptr;
            throw HostError(library.Path() + " made no usable view");
        }

        m_plugs = DiscoverPlugs(m_audio);
        m_values.resize(m_plugs.size());
        m_audio_buffers.resize(m_plugs.size());
        for (const PlugInfo& plug : m_plugs) {
            m_values[plug.index] = InitialValue(plug);
            if (plug.audio_side) {
                ++m_pin_count;
                if (plug.datatype == PIN_TYPE_AUDIO) {
                    m_audio_buffers[plug.index].assign(m_settings.block_size, 0.0f);
                    if (m_input_plug < 0 && plug.direction == DR_IN) {
                        m_input_plug = plug.index;
                    }
                }
            }
        }

        CallAudio(AUDIO_OP_SET_SAMPLE_RATE, 0, 0, nullptr, m_settings.sample_rate);
        CallAudio(AUDIO_OP_SET_BLOCK_SIZE, 0, m_settings.block_size);
        for (const PlugInfo& plug : m_plugs) {
            if (plug.audio_side) {
                WriteAudioVariable(plug);
            }
        }
        CallAudio(AUDIO_OP_OPEN);
        // The pins exist only after the open: tell the audio side what every value is now.
        for (const PlugInfo& plug : m_plugs) {
            if (plug.audio_side && plug.datatype != PIN_TYPE_AUDIO) {
                AnnouncePin(plug);
            }
        }

        m_canvas = std::make_unique<ViewCanvas>(m_settings.width, m_settings.height);
        m_size[0] = m_settings.width;
        m_size[1] = m_settings.height;
        m_canvas->Clear(m_settings.host_background);

        CallView(GUI_OP_INITIALISE, 0);
        Deliver();
    } catch (...) {
        CloseHalves();
        Unregister(this);
        throw;
    }
}

Instance::~Instance() {
    CloseHalves();
    Unregister(this);
}

void Instance::CloseHalves() {
    m_queue.clear();
    if (m_view != nullptr) {
        CallView(GUI_OP_CLOSE);
        m_view = nullptr;
    }
    if (m_audio != nullptr) {
        CallAudio(AUDIO_OP_CLOSE);
        m_audio = nullptr;
    }
    m_queue.clear(); // whatever the halves said while closing has nobody left to hear it
}

const PlugInfo* Instance::FindPlug(const std::string& name) const {
    for (const PlugInfo& plug : m_plugs) {
        if (plug.name == name) {
            return &plug;
        }
    }
    return nullptr;
}

uint32_t Instance::PlugValue(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= m_values.size()) {
        throw HostError("no plug " + std::to_string(index));
    }
    return m_values[index];
}

void Instance::SetPlug(int32_t index, uint32_t bits) {
    if (index < 0 || static_cast<size_t>(index) >= m_plugs.size()) {
        throw HostError("no plug " + std::to_string(index));
    }
    const PlugInfo& plug = m_plugs[index];
    if (plug.datatype == PIN_TYPE_AUDIO) {
        throw HostError("\"" + plug.name + "\" carries audio and takes no value");
    }
    if (plug.datatype != PIN_TYPE_FLOAT) {
        bits = NormaliseInt(plug.datatype, static_cast<int32_t>(bits));
    }
    if (m_values[index] == bits) {
        return;
    }
    m_values[index] = bits;
    if (plug.audio_side) {
        Queue(Relay::AUDIO_PIN_CHANGED, index, 0, nullptr, 0);
    }
    if (plug.gui_side) {
        Queue(Relay::VIEW_PIN_CHANGED, index, 0, nullptr, 0);
    }
    Deliver();
}

intptr_t Instance::CallbackEntry(void* plug, int32_t opcode, int32_t index, int32_t value,
                                 void* ptr, float opt) {
    if (plug == nullptr) {
        return 0;
    }
    // Both halves share this entry; the record's magic tells which one is calling.
    int32_t magic;
    std::memcpy(&magic, plug, sizeof magic);
    intptr_t data;
    if (magic == AUDIO_PLUG_MAGIC) {
        data = static_cast<AudioPlugRecord*>(plug)->hostData;
    } else if (magic == GUI_PLUG_MAGIC) {
        data = static_cast<GuiPlugRecord*>(plug)->hostData;
    } else {
        return 0;
    }
    Instance* self = reinterpret_cast<Instance*>(data);
    if (!IsLive(self)) {
        return 0;
    }
    // Nothing may unwind into the module.
    try {
        return magic == AUDIO_PLUG_MAGIC ? self->AudioRequest(opcode, index, value, ptr)
                                         : self->ViewRequest(opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

intptr_t Instance::AudioRequest(int32_t opcode, int32_t index, int32_t value, void* ptr) {
    switch (opcode) {
    case AUDIO_RQ_SAMPLE_CLOCK:
        return SampleClock32();
    case AUDIO_RQ_PIN_COUNT:
        return m_pin_count;
    case AUDIO_RQ_PIN_BUFFER:
        for (const PlugInfo& plug : m_plugs) {
            if (plug.pin_index == index && plug.datatype == PIN_TYPE_AUDIO) {
                return reinterpret_cast<intptr_t>(m_audio_buffers[plug.index].data());
            }
        }
        return 0;
    case AUDIO_RQ_SEND_TO_GUI:
        // Copied now: the audio side may reuse its buffer once the call returns.
        Queue(Relay::VIEW_RECEIVE, index, value, ptr, index);
        return 0;
    default: // AUDIO_RQ_IDLE, AUDIO_RQ_PROCESS_CHANGED and anything unknown
        return 0;
    }
}

intptr_t Instance::ViewRequest(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    switch (opcode) {
    case GUI_RQ_INVALIDATE:
        m_invalid = true;
        Report(Relay::INVALIDATE, 0, 0, nullptr);
        return 0;
    case GUI_RQ_NOTIFY_AUDIO:
        Queue(Relay::AUDIO_NOTIFY, index, value, ptr, index);
        return 0;
    case GUI_RQ_GET_PIN_VALUE: {
        if (ptr == nullptr) {
            return 0;
        }
        const bool known = index >= 0 && static_cast<size_t>(index) < m_values.size();
        const uint32_t bits = known ? m_values[index] : 0;
        std::memcpy(ptr, &bits, sizeof bits);
        return known ? 1 : 0;
    }
    case GUI_RQ_SET_PIN_VALUE: {
        if (index < 0 || static_cast<size_t>(index) >= m_plugs.size()) {
            return 0;
        }
        const PlugInfo& plug = m_plugs[index];
        if (plug.datatype == PIN_TYPE_AUDIO) {
            return 0;
        }
        const uint32_t bits = WrittenBits(plug, value, opt);
        if (m_values[index] != bits) {
            m_values[index] = bits;
            // Reported after the view's call returns, never into the middle of it.
            if (plug.audio_side) {
                Queue(Relay::AUDIO_PIN_CHANGED, index, 0, nullptr, 0);
            }
            Queue(Relay::VIEW_PIN_CHANGED, index, 0, nullptr, 0);
        }
        return 1;
    }
    default: // GUI_RQ_3, GUI_RQ_4, GUI_RQ_22 and anything unknown
        return 0;
    }
}

intptr_t Instance::CallAudio(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    ++m_depth;
    const intptr_t result = m_audio->dispatcher(m_audio, opcode, index, value, ptr, opt);
    --m_depth;
    return result;
}

intptr_t Instance::CallView(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    ++m_depth;
    const intptr_t result = m_view->dispatcher(m_view, opcode, index, value, ptr, opt);
    --m_depth;
    return result;
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
    if (m_depth > 0 || m_delivering) {
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
            CallView(GUI_OP_RECEIVE, d.index, d.value, data);
            break;
        case Relay::AUDIO_NOTIFY:
            ++m_notifications_to_audio;
            CallAudio(AUDIO_OP_GUI_NOTIFY, d.index, d.value, data);
            break;
        case Relay::VIEW_PIN_CHANGED:
            CallView(GUI_OP_PIN_CHANGED, d.index);
            break;
        case Relay::AUDIO_PIN_CHANGED:
            WriteAudioVariable(m_plugs[d.index]);
            AnnouncePin(m_plugs[d.index]);
            break;
        case Relay::INVALIDATE:
        case Relay::PAINT: // never queued
            break;
        }
    }
    m_delivering = false;
}

void Instance::WriteAudioVariable(const PlugInfo& plug) {
    if (plug.variable != nullptr && plug.datatype == PIN_TYPE_AUDIO) {
        float* buffer = m_audio_buffers[plug.index].data();
        std::memcpy(plug.variable, &buffer, sizeof buffer);
        return;
    }
    WritePlugVariable(plug, m_values[plug.index]);
}

void Instance::AnnouncePin(const PlugInfo& plug) {
    if (plug.pin_index < 0 || plug.pin_index >= m_pin_count) {
        return;
    }
    HostEvent event{};
    event.time_stamp = SampleClock32();
    event.kind = EVENT_PIN_STATUS;
    event.value = kPinStatusChanged;
    event.target = plug.pin_index;
    ++m_depth;
    m_audio->event(m_audio->owner, &event);
    --m_depth;
}

int64_t Instance::FrameTick(int64_t frame) const {
    return static_cast<int64_t>(
        std::floor(static_cast<double>(frame) * static_cast<double>(m_settings.sample_rate) /
                   m_settings.frames_per_second));
}

void Instance::Paint() {
    m_canvas->Clear(m_settings.host_background);
    const int32_t dc = m_canvas->Lend();
    m_invalid = false;
    Report(Relay::PAINT, m_size[0], m_size[1], nullptr);
    CallView(GUI_OP_PAINT, dc, 0, m_size);
    m_canvas->Return();
    ++m_paints;
    if (m_paint_observer) {
        m_paint_observer(*m_canvas, m_clock);
    }
    Deliver();
}

void Instance::Report(Relay::Kind kind, int32_t index, int32_t value,
                      const std::vector<uint8_t>* data) {
    if (!m_relay_observer) {
        return;
    }
    Relay relay{kind, m_clock, index, value, 0};
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
        while (m_clock >= FrameTick(m_frame)) {
            if (m_invalid) {
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
                                             count - done, FrameTick(m_frame) - m_clock});
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
    const ProcessRoutine routine = m_audio->process;
    if (routine != nullptr) {
        ++m_depth;
        routine(m_audio->owner, 0, count);
        --m_depth;
    }
    m_clock += count;
    Deliver();
}

} // namespace sehost
