// The binary interface between the host and a module: records, codes, opcodes and requests.
//
// On the 32-bit target every field is a little-endian 32-bit word at a fixed offset. 64-bit builds
// keep the field order and widen only what holds an address (pointers and intptr_t results).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define SE_EXPORT extern "C" __declspec(dllexport)
#else
#define SE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

struct AudioPlugRecord;
struct GuiPlugRecord;
struct HostEvent;

// The host's entry for requests from either half; the first argument is the caller's plug record.
extern "C" typedef intptr_t (*HostCallback)(void* plug, int32_t opcode, int32_t index,
                                            int32_t value, void* ptr, float opt);

// An audio-side process routine: (object, offset of the block's first sample, sample count).
extern "C" typedef void (*ProcessRoutine)(void* object, int32_t offset, int32_t count);
extern "C" typedef intptr_t (*AudioDispatchFn)(AudioPlugRecord* plug, int32_t opcode,
                                               int32_t index, int32_t value, void* ptr,
                                               float opt);
extern "C" typedef void (*AudioEventFn)(void* object, const HostEvent* event);
extern "C" typedef intptr_t (*GuiDispatchFn)(GuiPlugRecord* plug, int32_t opcode, int32_t index,
                                             int32_t value, void* ptr, float opt);
// The routine an EVENT_RUN_ROUTINE event names; it takes the object.
extern "C" typedef void (*EventRoutine)(void* object);

// ---- Module entry points ----------------------------------------------------------------------

enum : int32_t { MODULE_TYPE_AUDIO = 1, MODULE_TYPE_GUI = 2 };

struct ModuleProperties {
    const char* identifier;
    const char* name;
    const char* about;
    int32_t value_0c;
    int32_t value_10;
    int32_t value_14;
};

extern "C" typedef int32_t (*GetModulePropertiesFn)(int32_t index, ModuleProperties* properties);
extern "C" typedef void* (*MakeModuleFn)(int32_t index, int32_t type, HostCallback callback,
                                         intptr_t host_argument);

// ---- Audio side -------------------------------------------------------------------------------

constexpr int32_t AUDIO_PLUG_MAGIC = 0x5345507B;

struct AudioPlugRecord {
    int32_t magic;
    int32_t version;
    intptr_t hostData;
    void* owner;
    int32_t reserved_10;
    AudioDispatchFn dispatcher;
    ProcessRoutine process;
    AudioEventFn event;
    int32_t reserved_20[4];
};

struct ProcessSelection {
    ProcessRoutine routine;
    int32_t word1;
    int32_t word2;
};

struct ProcessQueryReply {
    int32_t one;
    int32_t selection_size;
    ProcessSelection* selection;
    int32_t zero;
};

enum : int32_t { EVENT_PIN_STATUS = 0, EVENT_KIND_2 = 2, EVENT_RUN_ROUTINE = 21 };

struct HostEvent {
    int32_t time_stamp;
    int32_t kind;
    int32_t value;
    int32_t value2;
    intptr_t target; // kind 0: pin index; kind 21: address of an EventRoutine
};

enum : int32_t {
    AUDIO_OP_OPEN = 0,
    AUDIO_OP_CLOSE = 1,
    AUDIO_OP_SET_SAMPLE_RATE = 2,
    AUDIO_OP_SET_BLOCK_SIZE = 3,
    AUDIO_OP_GET_PIN_PROPERTIES = 6,
    AUDIO_OP_7 = 7,
    AUDIO_OP_8 = 8,
    AUDIO_OP_10 = 10,
    AUDIO_OP_GUI_NOTIFY = 12,
    AUDIO_OP_QUERY_PROCESS = 13,
};

enum : int32_t {
    AUDIO_RQ_SAMPLE_CLOCK = 3,
    AUDIO_RQ_PIN_BUFFER = 7,
    AUDIO_RQ_IDLE = 10,
    AUDIO_RQ_PIN_COUNT = 14,
    AUDIO_RQ_SEND_TO_GUI = 17,
    AUDIO_RQ_PROCESS_CHANGED = 22,
};

// ---- Pins -------------------------------------------------------------------------------------

enum : int32_t { DR_IN = 0, DR_OUT = 1 };

enum : int32_t {
    PIN_TYPE_ENUM = 0,
    PIN_TYPE_BOOL = 4,
    PIN_TYPE_AUDIO = 5,
    PIN_TYPE_FLOAT = 6,
    PIN_TYPE_INT = 8,
};

enum : int32_t {
    IO_REPEAT_LAST = 0x8,
    IO_PRIVATE = 0x100,
    IO_UI_COMMUNICATION = 0x400,
    IO_UI_SHARED = 0x8000,
    IO_PATCH_STORE = 0x10000,
};

struct SEPinProperties {
    void* variable;
    int32_t direction;
    int32_t datatype;
    const char* name;
    const char* default_text;
    const char* type_text;
    int32_t flags;
    int32_t reserved;
};

// A plug exists on the audio side unless it belongs to the GUI alone.
inline bool IsAudioSidePlug(int32_t flags) {
    return (flags & IO_UI_COMMUNICATION) == 0 || (flags & IO_UI_SHARED) != 0;
}

// ---- GUI side ---------------------------------------------------------------------------------

constexpr int32_t GUI_PLUG_MAGIC = 0x5345504D;

struct GuiPlugRecord {
    int32_t magic;
    int32_t version;
    GuiDispatchFn dispatcher;
    intptr_t hostData;
    void* owner;
    int32_t reserved[5];
};

enum : int32_t {
    GUI_OP_INITIALISE = 0,
    GUI_OP_CLOSE = 1,
    GUI_OP_PAINT = 2,
    GUI_OP_3 = 3,
    GUI_OP_4 = 4,
    GUI_OP_5 = 5,
    GUI_OP_RECEIVE = 6,
    GUI_OP_PIN_CHANGED = 7,
    GUI_OP_8 = 8,
    GUI_OP_9 = 9,
    GUI_OP_10 = 10,
    GUI_OP_11 = 11,
    GUI_OP_12 = 12,
};

enum : int32_t {
    GUI_RQ_INVALIDATE = 0,
    GUI_RQ_NOTIFY_AUDIO = 2,
    GUI_RQ_3 = 3,
    GUI_RQ_4 = 4,
    GUI_RQ_GET_PIN_VALUE = 14,
    GUI_RQ_SET_PIN_VALUE = 15,
    GUI_RQ_22 = 22,
};

// ---- The fixed 32-bit layout, checked where it applies ----------------------------------------

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(void*) == 4, "the 32-bit interface needs 4-byte addresses");

static_assert(offsetof(ModuleProperties, identifier) == 0x00);
static_assert(offsetof(ModuleProperties, name) == 0x04);
static_assert(offsetof(ModuleProperties, about) == 0x08);
static_assert(offsetof(ModuleProperties, value_0c) == 0x0C);
static_assert(offsetof(ModuleProperties, value_10) == 0x10);
static_assert(offsetof(ModuleProperties, value_14) == 0x14);
static_assert(sizeof(ModuleProperties) == 24);

static_assert(offsetof(AudioPlugRecord, magic) == 0x00);
static_assert(offsetof(AudioPlugRecord, version) == 0x04);
static_assert(offsetof(AudioPlugRecord, hostData) == 0x08);
static_assert(offsetof(AudioPlugRecord, owner) == 0x0C);
static_assert(offsetof(AudioPlugRecord, reserved_10) == 0x10);
static_assert(offsetof(AudioPlugRecord, dispatcher) == 0x14);
static_assert(offsetof(AudioPlugRecord, process) == 0x18);
static_assert(offsetof(AudioPlugRecord, event) == 0x1C);
static_assert(offsetof(AudioPlugRecord, reserved_20) == 0x20);
static_assert(sizeof(AudioPlugRecord) == 48);

static_assert(offsetof(ProcessSelection, routine) == 0);
static_assert(offsetof(ProcessSelection, word1) == 4);
static_assert(offsetof(ProcessSelection, word2) == 8);
static_assert(sizeof(ProcessSelection) == 12);

static_assert(offsetof(ProcessQueryReply, one) == 0x00);
static_assert(offsetof(ProcessQueryReply, selection_size) == 0x04);
static_assert(offsetof(ProcessQueryReply, selection) == 0x08);
static_assert(offsetof(ProcessQueryReply, zero) == 0x0C);
static_assert(sizeof(ProcessQueryReply) == 16);

static_assert(offsetof(HostEvent, time_stamp) == 0x00);
static_assert(offsetof(HostEvent, kind) == 0x04);
static_assert(offsetof(HostEvent, value) == 0x08);
static_assert(offsetof(HostEvent, value2) == 0x0C);
static_assert(offsetof(HostEvent, target) == 0x10);
static_assert(sizeof(HostEvent) == 20);

static_assert(offsetof(SEPinProperties, variable) == 0);
static_assert(offsetof(SEPinProperties, direction) == 4);
static_assert(offsetof(SEPinProperties, datatype) == 8);
static_assert(offsetof(SEPinProperties, name) == 12);
static_assert(offsetof(SEPinProperties, default_text) == 16);
static_assert(offsetof(SEPinProperties, type_text) == 20);
static_assert(offsetof(SEPinProperties, flags) == 24);
static_assert(offsetof(SEPinProperties, reserved) == 28);
static_assert(sizeof(SEPinProperties) == 32);

static_assert(offsetof(GuiPlugRecord, magic) == 0);
static_assert(offsetof(GuiPlugRecord, version) == 4);
static_assert(offsetof(GuiPlugRecord, dispatcher) == 8);
static_assert(offsetof(GuiPlugRecord, hostData) == 12);
static_assert(offsetof(GuiPlugRecord, owner) == 16);
static_assert(offsetof(GuiPlugRecord, reserved) == 20);
static_assert(sizeof(GuiPlugRecord) == 40);
#endif
