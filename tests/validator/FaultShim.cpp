// A module file that wraps another one and plants one fault in it, so that the validator's own
// tests can show that each of its checks catches what it is meant to catch. The wrapped file is
// named by VALIDATOR_SHIM_TARGET, the fault by VALIDATOR_SHIM_FAULT (none: a faithful wrapper).
#include "se_types.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

enum class Fault {
    NONE,
    PROCESS_ALLOCATES,
    PROCESS_LOCKS,
    FRAME_BYTE,
    DROPS_PEAK,
    RECEIVE_ALLOCATES,
    DOUBLE_INVALIDATE,
    READS_PAST_BLOCK,
};

struct Target {
    GetModulePropertiesFn properties = nullptr;
    MakeModuleFn make = nullptr;
    Fault fault = Fault::NONE;
};

const Target& Wrapped() {
    static const Target target = [] {
        Target t;
        const char* path = std::getenv("VALIDATOR_SHIM_TARGET");
        void* handle = path != nullptr ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
        if (handle != nullptr) {
            t.properties =
                reinterpret_cast<GetModulePropertiesFn>(dlsym(handle, "getModuleProperties"));
            t.make = reinterpret_cast<MakeModuleFn>(dlsym(handle, "makeModule"));
        }
        const std::string fault =
            std::getenv("VALIDATOR_SHIM_FAULT") ? std::getenv("VALIDATOR_SHIM_FAULT") : "";
        const std::pair<const char*, Fault> names[] = {
            {"process-allocates", Fault::PROCESS_ALLOCATES},
            {"process-locks", Fault::PROCESS_LOCKS},
            {"frame-byte", Fault::FRAME_BYTE},
            {"drops-peak", Fault::DROPS_PEAK},
            {"receive-allocates", Fault::RECEIVE_ALLOCATES},
            {"double-invalidate", Fault::DOUBLE_INVALIDATE},
            {"reads-past-block", Fault::READS_PAST_BLOCK}};
        for (const auto& [name, value] : names) {
            if (fault == name) {
                t.fault = value;
            }
        }
        return t;
    }();
    return target;
}

pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
volatile float g_sink = 0.0f;
// Where a planted allocation lands, so that no optimiser can drop it.
int* volatile g_block = nullptr;

void Allocate(int32_t n) {
    g_block = new int(n);
    delete g_block;
}

struct AudioWrap {
    AudioPlugRecord outer;
    AudioPlugRecord* inner;
    HostCallback host;
    ProcessSelection selection;
    ProcessQueryReply reply;
    int peaks;
};

struct GuiWrap {
    GuiPlugRecord outer;
    GuiPlugRecord* inner;
    HostCallback host;
};

extern "C" intptr_t AudioCallback(void* plug, int32_t opcode, int32_t index, int32_t value,
                                  void* ptr, float opt) {
    auto* w = reinterpret_cast<AudioWrap*>(static_cast<AudioPlugRecord*>(plug)->hostData);
    const Fault fault = Wrapped().fault;
    if (opcode == AUDIO_RQ_SEND_TO_GUI && ptr != nullptr && fault == Fault::FRAME_BYTE) {
        static_cast<uint8_t*>(ptr)[17] ^= 0x40;
    }
    if (opcode == AUDIO_RQ_SEND_TO_GUI && ptr == nullptr && fault == Fault::DROPS_PEAK &&
        ++w->peaks % 7 == 0) {
        return 0;
    }
    return w->host(&w->outer, opcode, index, value, ptr, opt);
}

extern "C" void AudioProcess(void* object, int32_t offset, int32_t count) {
    auto* w = static_cast<AudioWrap*>(object);
    w->inner->process(w->inner->owner, offset, count);
    switch (Wrapped().fault) {
    case Fault::PROCESS_ALLOCATES:
        Allocate(count);
        break;
    case Fault::PROCESS_LOCKS:
        pthread_mutex_lock(&g_mutex);
        pthread_mutex_unlock(&g_mutex);
        break;
    case Fault::READS_PAST_BLOCK: {
        // The input variable is the first word of the plug table's first variable.
        SEPinProperties record{};
        w->inner->dispatcher(w->inner, AUDIO_OP_GET_PIN_PROPERTIES, 0, 0, &record, 0.0f);
        float* input = *static_cast<float**>(record.variable);
        if (input != nullptr && count > 0) {
            g_sink = input[offset + count];
        }
        break;
    }
    default:
        break;
    }
}

extern "C" void AudioEvent(void* object, const HostEvent* e) {
    auto* w = static_cast<AudioWrap*>(object);
    if (e->kind == EVENT_RUN_ROUTINE) {
        // The routine sees the object the host knows; the wrapped side still checks the time.
        HostEvent other = *e;
        other.kind = 6;
        w->inner->event(w->inner->owner, &other);
        if (e->target != 0) {
            reinterpret_cast<EventRoutine>(e->target)(w);
        }
        return;
    }
    w->inner->event(w->inner->owner, e);
}

extern "C" intptr_t AudioDispatch(AudioPlugRecord* plug, int32_t opcode, int32_t index,
                                  int32_t value, void* ptr, float opt) {
    auto* w = static_cast<AudioWrap*>(plug->owner);
    if (opcode == AUDIO_OP_QUERY_PROCESS) {
        w->selection = ProcessSelection{&AudioProcess, 0, 0};
        w->reply =
            ProcessQueryReply{1, static_cast<int32_t>(sizeof(ProcessSelection)), &w->selection, 0};
        return reinterpret_cast<intptr_t>(&w->reply);
    }
    const intptr_t answer = w->inner->dispatcher(w->inner, opcode, index, value, ptr, opt);
    if (opcode == AUDIO_OP_CLOSE) {
        delete w;
    }
    return answer;
}

extern "C" intptr_t GuiCallback(void* plug, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                float opt) {
    auto* w = reinterpret_cast<GuiWrap*>(static_cast<GuiPlugRecord*>(plug)->hostData);
    const intptr_t answer = w->host(&w->outer, opcode, index, value, ptr, opt);
    if (opcode == GUI_RQ_INVALIDATE && Wrapped().fault == Fault::DOUBLE_INVALIDATE) {
        w->host(&w->outer, opcode, index, value, ptr, opt);
    }
    return answer;
}

extern "C" intptr_t GuiDispatch(GuiPlugRecord* plug, int32_t opcode, int32_t index, int32_t value,
                                void* ptr, float opt) {
    auto* w = static_cast<GuiWrap*>(plug->owner);
    if (opcode == GUI_OP_RECEIVE && Wrapped().fault == Fault::RECEIVE_ALLOCATES) {
        Allocate(value);
    }
    const intptr_t answer = w->inner->dispatcher(w->inner, opcode, index, value, ptr, opt);
    if (opcode == GUI_OP_CLOSE) {
        delete w;
    }
    return answer;
}

} // namespace

SE_EXPORT int32_t getModuleProperties(int32_t index, ModuleProperties* properties) {
    return Wrapped().properties != nullptr ? Wrapped().properties(index, properties) : 0;
}

SE_EXPORT void* makeModule(int32_t index, int32_t type, HostCallback callback,
                           intptr_t host_argument) {
    if (Wrapped().make == nullptr) {
        return nullptr;
    }
    if (type == MODULE_TYPE_AUDIO) {
        auto* w = new AudioWrap{};
        w->host = callback;
        w->outer =
            AudioPlugRecord{AUDIO_PLUG_MAGIC, 1, host_argument, w, 0, &AudioDispatch, &AudioProcess,
                            &AudioEvent,      {}};
        w->inner = static_cast<AudioPlugRecord*>(
            Wrapped().make(index, type, callback != nullptr ? &AudioCallback : nullptr,
                           reinterpret_cast<intptr_t>(w)));
        if (w->inner == nullptr) {
            delete w;
            return nullptr;
        }
        return &w->outer;
    }
    if (type == MODULE_TYPE_GUI) {
        auto* w = new GuiWrap{};
        w->host = callback;
        w->outer = GuiPlugRecord{GUI_PLUG_MAGIC, 1, &GuiDispatch, host_argument, w, {}};
        w->inner = static_cast<GuiPlugRecord*>(
            Wrapped().make(index, type, &GuiCallback, reinterpret_cast<intptr_t>(w)));
        if (w->inner == nullptr) {
            delete w;
            return nullptr;
        }
        return &w->outer;
    }
    return Wrapped().make(index, type, callback, host_argument);
}
