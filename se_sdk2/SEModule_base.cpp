// The audio-side host binding and the building of the pin array.
#include "SEModule_base.h"

#include "se_assert.h"

#include <climits>
#include <cstring>
#include <new>

namespace {

// The source path that the host binding's contract checks report, as a host's log shows it.
const char kSourceFile[] = "..\\se_sdk2\\SEModule_base";

// The one reply record of AUDIO_OP_QUERY_PROCESS, shared by every object of the process.
ProcessQueryReply g_process_query_reply = {1, static_cast<int32_t>(sizeof(ProcessSelection)),
                                           nullptr, 0};

} // namespace

extern "C" {

intptr_t SEModule_base_DispatchEntry(AudioPlugRecord* plug, int32_t opcode, int32_t index,
                                     int32_t value, void* ptr, float opt) {
    SEModule_base* object = static_cast<SEModule_base*>(plug->owner);
    return object->Dispatch(opcode, index, value, ptr, opt);
}

void SEModule_base_EventEntry(void* object, const HostEvent* event) {
    static_cast<SEModule_base*>(object)->HandleEvent(event);
}

void SEModule_base_EmptyProcess(void*, int32_t, int32_t) {}

} // extern "C"

SEModule_base::SEModule_base(HostCallback callback, intptr_t host_argument)
    : m_host_callback(callback), m_plug(), m_sample_rate(44100.0f), m_block_size(1024),
      m_pins(nullptr), m_process{&SEModule_base_EmptyProcess, 0, 0}, m_pin_count(0) {
    std::memset(&m_plug, 0, sizeof(m_plug));
    m_plug.magic = AUDIO_PLUG_MAGIC;
    m_plug.version = 1;
    m_plug.hostData = host_argument;
    m_plug.owner = this;
    m_plug.reserved_10 = 0;
    m_plug.dispatcher = &SEModule_base_DispatchEntry;
    m_plug.process = m_process.routine;
    m_plug.event = &SEModule_base_EventEntry;
}

SEModule_base::~SEModule_base() {
    ReleasePins();
}

void SEModule_base::ReleasePins() {
    SEPin* pins = m_pins;
    m_pins = nullptr;
    m_pin_count = 0;
    delete[] pins; // pins destroyed from the last to the first, then the array freed
}

// ---- Default virtual operations ---------------------------------------------------------------

void SEModule_base::OnPlugStateChange(SEPin*) {}
void SEModule_base::Close() {}
void SEModule_base::SetSampleRate(float rate) {
    m_sample_rate = rate;
}
void SEModule_base::SetBlockSize(int32_t size) {
    m_block_size = size;
}
float SEModule_base::SampleRate() {
    return m_sample_rate;
}
int32_t SEModule_base::BlockSize() {
    return m_block_size;
}
bool SEModule_base::GetPinProperties(int32_t, SEPinProperties*) {
    return false;
}
void SEModule_base::OnOpcode8() {}
void SEModule_base::OnOpcode8Index(int32_t) {}
void SEModule_base::OnEventKind2(int32_t, int32_t, int16_t) {}
void SEModule_base::OnGuiNotify(int32_t, int32_t, void*) {}

// ---- The dispatcher ---------------------------------------------------------------------------

intptr_t SEModule_base::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt) {
    switch (opcode) {
    case AUDIO_OP_OPEN:
        Open();
        return 0;
    case AUDIO_OP_CLOSE:
        Close();
        delete this; // the record is gone with the object: nothing touches it after this
        return 1;
    case AUDIO_OP_SET_SAMPLE_RATE:
        SetSampleRate(opt);
        return 0;
    case AUDIO_OP_SET_BLOCK_SIZE:
        SetBlockSize(value);
        return 0;
    case AUDIO_OP_GET_PIN_PROPERTIES: {
        if (ptr == nullptr) {
            return 0; // no record to fill or to check
        }
        const intptr_t result = GetPinProperties(index, static_cast<SEPinProperties*>(ptr)) ? 1 : 0;
        SE_CONTRACT((((SEPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 ||
                        (((SEPinProperties*)ptr)->flags & IO_PRIVATE) != 0 ||
                        ((SEPinProperties*)ptr)->direction == DR_OUT ||
                        (((SEPinProperties*)ptr)->flags & IO_UI_COMMUNICATION) != 0,
                    "(((SEPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || "
                    "(((SEPinProperties*)ptr)->flags & IO_PRIVATE) != 0 || "
                    "((SEPinProperties*)ptr)->direction == DR_OUT || "
                    "( ( (SEPinProperties*)ptr)->flags & IO_UI_COMMUNICATION) != 0",
                    kSourceFile, 80);
        return result;
    }
    case AUDIO_OP_7:
        SE_CONTRACT(false, "false", kSourceFile, 99);
        return 0;
    case AUDIO_OP_8:
        OnOpcode8();
        if (index > 0) {
            OnOpcode8Index(index);
        }
        return 0;
    case AUDIO_OP_10:
        SE_CONTRACT(false, "false", kSourceFile, 119);
        return 0;
    case AUDIO_OP_GUI_NOTIFY:
        OnGuiNotify(value, index, ptr);
        return 0;
    case AUDIO_OP_QUERY_PROCESS:
        g_process_query_reply.one = 1;
        g_process_query_reply.selection_size = static_cast<int32_t>(sizeof(ProcessSelection));
        g_process_query_reply.selection = &m_process;
        g_process_query_reply.zero = 0;
        return reinterpret_cast<intptr_t>(&g_process_query_reply);
    default:
        return 0;
    }
}

// ---- Events -----------------------------------------------------------------------------------

void SEModule_base::HandleEvent(const HostEvent* e) {
    SE_CONTRACT(e->time_stamp == SampleClock(), "e->time_stamp == SampleClock()", kSourceFile, 276);
    switch (e->kind) {
    case EVENT_PIN_STATUS: {
        // A target that is no 32-bit index lies outside every array: GetPin refuses it.
        const int32_t index =
            (e->target >= 0 && e->target <= INT32_MAX) ? static_cast<int32_t>(e->target) : -1;
        SEPin* pin = GetPin(index);
        if (pin != nullptr && pin->IsBound()) {
            pin->SetStatus(e->value);
        }
        break;
    }
    case EVENT_KIND_2:
        OnEventKind2(e->time_stamp, e->value, static_cast<int16_t>(e->value2 & 0xFFFF));
        break;
    case EVENT_RUN_ROUTINE: {
        EventRoutine routine = reinterpret_cast<EventRoutine>(e->target);
        if (routine != nullptr) {
            routine(this);
        }
        break;
    }
    default:
        break;
    }
}

// ---- Host requests and the process routine ----------------------------------------------------

intptr_t SEModule_base::CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt) {
    if (m_host_callback == nullptr) {
        return 0;
    }
    return m_host_callback(&m_plug, opcode, index, value, ptr, opt);
}

int32_t SEModule_base::SampleClock() {
    return static_cast<int32_t>(CallHost(AUDIO_RQ_SAMPLE_CLOCK, 0, 0, nullptr, 0.0f));
}

void SEModule_base::SetProcessRoutine(ProcessSelection selection) {
    if (selection.routine == m_process.routine && selection.word1 == m_process.word1 &&
        selection.word2 == m_process.word2) {
        return;
    }
    m_process = selection;
    m_plug.process = selection.routine;
    CallHost(AUDIO_RQ_PROCESS_CHANGED, 0, 0, nullptr, 0.0f);
}

// ---- Pins -------------------------------------------------------------------------------------

SEPin* SEModule_base::GetPin(int32_t index) {
    SE_CONTRACT(m_pins != 0, "m_pins != 0", kSourceFile, 150);
    if (index < 0 || index >= m_pin_count) {
        return nullptr;
    }
    return &m_pins[index];
}

bool SEModule_base::QueryPinProperties(int32_t index, SEPinProperties* properties) {
    std::memset(properties, 0, sizeof(*properties));
    return GetPinProperties(index, properties);
}

void SEModule_base::Open() {
    const intptr_t answer = CallHost(AUDIO_RQ_PIN_COUNT, 0, 0, nullptr, 0.0f);

    // A second open replaces the array: the old one is freed before anything is built anew.
    ReleasePins();
    int32_t count = 0;
    if (answer > 0 && answer <= kMaxPinCount) {
        m_pins = new (std::nothrow) SEPin[static_cast<std::size_t>(answer)];
        if (m_pins != nullptr) {
            count = static_cast<int32_t>(answer);
        }
    }
    m_pin_count = count;

    // Walk the plugs: q counts queries, i the pins built.
    SEPinProperties properties;
    int32_t q = 0;
    int32_t i = 0;
    while (q < INT32_MAX) {
        if (!QueryPinProperties(q, &properties)) {
            break;
        }
        if (i >= count) {
            break;
        }
        if (IsAudioSidePlug(properties.flags)) {
            m_pins[i].Init(this, i, properties.datatype, properties.variable);
            ++i;
        }
        ++q;
    }

    // The last plug reported may ask to be repeated up to the host's count.
    QueryPinProperties(q - 1, &properties);
    if (IsAudioSidePlug(properties.flags) && (properties.flags & IO_REPEAT_LAST) != 0) {
        while (i < count) {
            m_pins[i].Init(this, i, properties.datatype, nullptr);
            ++i;
        }
    }
}
