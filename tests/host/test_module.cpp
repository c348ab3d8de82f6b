// A small module with a plug table of its own, for testing the host without the display.
// It records what reaches it; every plug kind that the host handles appears once.
#include "se_types.h"
#include "test_module.h"

#include <cstring>

namespace {

TestLog g_log;

enum : int32_t { LEVEL, IN, SHAPE, COLOUR, FLAG, OUT, PLUG_COUNT };

struct Audio {
    AudioPlugRecord plug{};
    HostCallback host;
    float level = 0;
    float* in = nullptr;
    int16_t shape = 0;
    uint8_t flag = 0;
    uint8_t message[4] = {};
    int64_t counted = 0;

    intptr_t Call(int32_t opcode, int32_t index = 0) {
        return host(&plug, opcode, index, 0, nullptr, 0.0f);
    }
};

struct View {
    GuiPlugRecord plug{};
    HostCallback host;
    int32_t depth = 0;

    intptr_t Call(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
        return host(&plug, opcode, index, value, ptr, opt);
    }
    int32_t Get(int32_t index) {
        int32_t v = 0;
        Call(GUI_RQ_GET_PIN_VALUE, index, 0, &v, 0.0f);
        return v;
    }
};

int32_t Properties(int32_t index, SEPinProperties* p, Audio* a) {
    switch (index) {
    case LEVEL:
        *p = {&a->level, DR_IN, PIN_TYPE_FLOAT, "Level", "0.5", nullptr, 0, 0};
        return 1;
    case IN:
        *p = {&a->in, DR_IN, PIN_TYPE_AUDIO, "In", nullptr, nullptr, 0, 0};
        return 1;
    case SHAPE:
        *p = {&a->shape,
              DR_IN,
              PIN_TYPE_ENUM,
              "Shape",
              "Mid",
              "Low=-2,Mid,High=5",
              IO_UI_COMMUNICATION | IO_UI_SHARED,
              0};
        return 1;
    case COLOUR:
        *p = {nullptr, DR_IN, PIN_TYPE_INT, "Colour", nullptr, nullptr, IO_UI_COMMUNICATION, 0};
        return 1;
    case FLAG:
        *p = {&a->flag, DR_IN, PIN_TYPE_BOOL, "Flag", "1", nullptr, 0, 0};
        return 1;
    case OUT:
        *p = {nullptr, DR_OUT, PIN_TYPE_AUDIO, "Out", nullptr, nullptr, 0, 0};
        return 1;
    default:
        return 0;
    }
}

void Process(void* object, int32_t offset, int32_t count) {
    auto* a = static_cast<Audio*>(object);
    g_log.block_sizes.push_back(count);
    for (int32_t i = 0; i < count; ++i) {
        g_log.input_sum += a->in[offset + i];
        if (g_log.out_buffer != nullptr) {
            g_log.out_buffer[offset + i] = a->in[offset + i];
        }
        ++g_log.samples;
        // Messages flow while "Flag" is on, one per 100 samples.
        if (a->flag != 0 && ++a->counted % 100 == 0) {
            const auto n = static_cast<uint32_t>(a->counted / 100);
            std::memcpy(a->message, &n, sizeof n);
            a->host(&a->plug, AUDIO_RQ_SEND_TO_GUI, 4, 0, a->message, 0.0f);
            std::memset(a->message, 0xEE, sizeof a->message); // the host must have copied
        }
    }
}

void Event(void* object, const HostEvent* e) {
    auto* a = static_cast<Audio*>(object);
    if (a->Call(AUDIO_RQ_SAMPLE_CLOCK) != e->time_stamp) {
        ++g_log.clock_mismatches;
    }
    if (e->kind == EVENT_PIN_STATUS) {
        g_log.events.push_back({static_cast<int32_t>(e->target), e->value, e->time_stamp, a->level,
                                a->shape, a->flag});
    }
}

intptr_t AudioDispatch(AudioPlugRecord* plug, int32_t opcode, int32_t index, int32_t value,
                       void* ptr, float opt) {
    auto* a = static_cast<Audio*>(plug->owner);
    switch (opcode) {
    case AUDIO_OP_OPEN:
        g_log.opened = true;
        g_log.pin_count = static_cast<int32_t>(a->Call(AUDIO_RQ_PIN_COUNT));
        g_log.buffer_requests.push_back(4);
        g_log.out_buffer = reinterpret_cast<float*>(a->Call(AUDIO_RQ_PIN_BUFFER, 4));
        g_log.in_seen = a->in;
        a->plug.process = &Process;
        return 0;
    case AUDIO_OP_CLOSE:
        g_log.audio_closed = true;
        delete a;
        return 1;
    case AUDIO_OP_SET_SAMPLE_RATE:
        g_log.sample_rate_seen = opt;
        return 0;
    case AUDIO_OP_SET_BLOCK_SIZE:
        g_log.block_size_seen = value;
        return 0;
    case AUDIO_OP_GET_PIN_PROPERTIES:
        return Properties(index, static_cast<SEPinProperties*>(ptr), a);
    case AUDIO_OP_GUI_NOTIFY:
        g_log.notifies.emplace_back(value, index);
        return 0;
    default:
        return 0;
    }
}

intptr_t ViewDispatch(GuiPlugRecord* plug, int32_t opcode, int32_t index, int32_t, void* ptr,
                      float) {
    auto* v = static_cast<View*>(plug->owner);
    if (v->depth > 0) {
        ++g_log.reentered;
    }
    ++v->depth;
    intptr_t result = 0;
    switch (opcode) {
    case GUI_OP_INITIALISE:
        // A fresh view writes its own start values, as a display does.
        v->Call(GUI_RQ_SET_PIN_VALUE, COLOUR, 7, nullptr, 0.0f);
        break;
    case GUI_OP_CLOSE:
        g_log.view_closed = true;
        --v->depth;
        delete v;
        return 1;
    case GUI_OP_RECEIVE: {
        const auto* bytes = static_cast<const uint8_t*>(ptr);
        g_log.received.emplace_back(bytes, bytes + index);
        v->Call(GUI_RQ_INVALIDATE, 0, 0, nullptr, 0.0f);
        v->Call(GUI_RQ_NOTIFY_AUDIO, 0, -1, nullptr, 0.0f);
        // Every tenth message the view moves the shared plug; the host must carry it across.
        if (g_log.received.size() % 10 == 0) {
            v->Call(GUI_RQ_SET_PIN_VALUE, SHAPE,
                    static_cast<int32_t>(g_log.received.size() / 10) % 2 == 0 ? -2 : 5, nullptr,
                    0.0f);
        }
        break;
    }
    case GUI_OP_PIN_CHANGED:
        g_log.pin_changes.emplace_back(index, v->Get(index));
        break;
    case GUI_OP_PAINT: {
        g_log.paint_handles.push_back(index);
        const auto* size = static_cast<const int32_t*>(ptr);
        g_log.paint_width = size[0];
        g_log.paint_height = size[1];
        break;
    }
    default:
        break;
    }
    --v->depth;
    return result;
}

} // namespace

extern "C" __attribute__((visibility("default"))) TestLog* testModuleLog() {
    return &g_log;
}

SE_EXPORT int32_t getModuleProperties(int32_t index, ModuleProperties* p) {
    if (index != 0) {
        return 0;
    }
    *p = {"test", "Host test module", "records what the host does", 0, 0, 0};
    return 1;
}

SE_EXPORT void* makeModule(int32_t index, int32_t type, HostCallback host, intptr_t data) {
    if (index != 0) {
        return nullptr;
    }
    if (type == MODULE_TYPE_AUDIO) {
        g_log = TestLog();
        auto* a = new Audio;
        a->host = host;
        a->plug.magic = AUDIO_PLUG_MAGIC;
        a->plug.version = 1;
        a->plug.hostData = data;
        a->plug.owner = a;
        a->plug.dispatcher = &AudioDispatch;
        a->plug.event = &Event;
        return &a->plug;
    }
    if (type == MODULE_TYPE_GUI) {
        auto* v = new View;
        v->host = host;
        v->plug.magic = GUI_PLUG_MAGIC;
        v->plug.version = 1;
        v->plug.dispatcher = &ViewDispatch;
        v->plug.hostData = data;
        v->plug.owner = v;
        v->Call(GUI_RQ_3, 200, 100, nullptr, 0.0f); // as a display asks during construction
        return &v->plug;
    }
    return nullptr;
}
