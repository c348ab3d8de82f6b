// The audio-side host binding, seen from the host: the plug record, the dispatcher,
// events, the process selection and the host requests.
#include "AudioTestSupport.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Every operation that the base can reach, written down in order.
std::vector<std::string>* g_log = nullptr;

void Log(const std::string& entry) {
    if (g_log != nullptr) {
        g_log->push_back(entry);
    }
}

class ProbeModule : public SEModule_base {
public:
    ProbeModule(HostCallback callback, intptr_t host_argument)
        : SEModule_base(callback, host_argument) {}
    ~ProbeModule() override { Log("~ProbeModule"); }

    void OnPlugStateChange(SEPin* pin) override {
        Log("OnPlugStateChange " + std::to_string(pin->Index()) + " status " +
            std::to_string(pin->Status()));
    }
    void Open() override {
        Log("Open");
        SEModule_base::Open();
    }
    void Close() override { Log("Close"); }
    bool GetPinProperties(int32_t index, SEPinProperties* properties) override {
        Log("GetPinProperties " + std::to_string(index));
        if (index < 0 || static_cast<size_t>(index) >= plugs.size()) {
            return false;
        }
        *properties = plugs[static_cast<size_t>(index)];
        return true;
    }
    void OnOpcode8() override { Log("OnOpcode8"); }
    void OnOpcode8Index(int32_t index) override { Log("OnOpcode8Index " + std::to_string(index)); }
    void OnEventKind2(int32_t time_stamp, int32_t value, int16_t value2) override {
        Log("OnEventKind2 " + std::to_string(time_stamp) + " " + std::to_string(value) + " " +
            std::to_string(value2));
    }
    void OnGuiNotify(int32_t value, int32_t index, void* ptr) override {
        Log("OnGuiNotify " + std::to_string(value) + " " + std::to_string(index) + " " +
            std::to_string(reinterpret_cast<uintptr_t>(ptr)));
    }

    const ProcessSelection* Selection() const { return &m_process; }
    using SEModule_base::SetProcessRoutine;

    std::vector<SEPinProperties> plugs;
};

SEPinProperties PlugRow(int32_t datatype, void* variable, int32_t flags = 0,
                        int32_t direction = DR_IN) {
    SEPinProperties p;
    std::memset(&p, 0, sizeof(p));
    p.variable = variable;
    p.direction = direction;
    p.datatype = datatype;
    p.name = "plug";
    p.flags = flags;
    return p;
}

class ModuleBaseTest : public testing::Test {
protected:
    void SetUp() override { g_log = &log; }
    void TearDown() override { g_log = nullptr; }

    // A probe made with the rig's callback; the rig closes it.
    ProbeModule* MakeProbe(intptr_t host_argument = 0) {
        ProbeModule* probe = new ProbeModule(FakeHost::Callback(), host_argument);
        rig.Adopt(probe->PlugRecord());
        return probe;
    }

    std::vector<std::string> log;
    AudioRig rig;
};

extern "C" void RecordRoutine(void* object) {
    Log("routine " + std::to_string(reinterpret_cast<uintptr_t>(object)));
}
extern "C" void OtherProcess(void*, int32_t, int32_t) {}

} // namespace

TEST_F(ModuleBaseTest, FreshObjectHoldsTheRecordOfTheTable) {
    ProbeModule* probe = MakeProbe(77);
    AudioPlugRecord* plug = probe->PlugRecord();
    EXPECT_EQ(plug->magic, 0x5345507B);
    EXPECT_EQ(plug->version, 1);
    EXPECT_EQ(plug->hostData, 77);
    EXPECT_EQ(plug->owner, static_cast<SEModule_base*>(probe));
    EXPECT_EQ(plug->reserved_10, 0);
    EXPECT_EQ(plug->dispatcher, &SEModule_base_DispatchEntry);
    EXPECT_EQ(plug->process, &SEModule_base_EmptyProcess);
    EXPECT_EQ(plug->event, &SEModule_base_EventEntry);
    for (int32_t word : plug->reserved_20) {
        EXPECT_EQ(word, 0);
    }
    EXPECT_EQ(probe->Selection()->routine, &SEModule_base_EmptyProcess);
    EXPECT_EQ(probe->Selection()->word1, 0);
    EXPECT_EQ(probe->Selection()->word2, 0);

    // The constructor sends nothing, and EmptyProcess does nothing.
    FakeHost::Process(plug, 0, 64);
    EXPECT_TRUE(rig.Requests().empty());
    EXPECT_TRUE(log.empty());

    float rate = probe->SampleRate();
    uint32_t bits;
    std::memcpy(&bits, &rate, sizeof(bits));
    EXPECT_EQ(bits, 0x472C4400u);
    EXPECT_EQ(probe->BlockSize(), 1024);
    EXPECT_EQ(probe->PinCount(), 0);
}

TEST_F(ModuleBaseTest, SampleRateComesInTheOptionNotTheValue) {
    ProbeModule* probe = MakeProbe();
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_SET_SAMPLE_RATE, 0, 48000, nullptr, 0.0f), 0);
    EXPECT_EQ(probe->SampleRate(), 0.0f);
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f), 0);
    EXPECT_EQ(probe->SampleRate(), 48000.0f);
    EXPECT_TRUE(rig.Requests().empty());
}

TEST_F(ModuleBaseTest, BlockSizeComesInTheValue) {
    ProbeModule* probe = MakeProbe();
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_SET_BLOCK_SIZE, 3, 256, nullptr, 9.0f), 0);
    EXPECT_EQ(probe->BlockSize(), 256);
}

TEST_F(ModuleBaseTest, Opcode8CallsTheIndexOperationOnlyForPositiveIndices) {
    MakeProbe();
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_8, 0), 0);
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_8, -1), 0);
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_8, 3), 0);
    EXPECT_EQ(
        log, (std::vector<std::string>{"OnOpcode8", "OnOpcode8", "OnOpcode8", "OnOpcode8Index 3"}));
}

TEST_F(ModuleBaseTest, GuiNotifyPassesValueFirst) {
    MakeProbe();
    int data = 0;
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_GUI_NOTIFY, 5, 7, &data), 0);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "OnGuiNotify 7 5 " + std::to_string(reinterpret_cast<uintptr_t>(&data)));
}

TEST_F(ModuleBaseTest, UnlistedOpcodesDoNothing) {
    ProbeModule* probe = MakeProbe();
    for (int32_t opcode : {4, 5, 9, 11, 14, 100, -1, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(FakeHost::Dispatch(rig.plug, opcode, 1, 2, nullptr, 3.0f), 0) << opcode;
    }
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(rig.Requests().empty());
    EXPECT_EQ(probe->SampleRate(), 44100.0f);
    EXPECT_EQ(probe->BlockSize(), 1024);
}

TEST_F(ModuleBaseTest, PinPropertiesAnswerWhatTheOperationAnswered) {
    ProbeModule* probe = MakeProbe();
    probe->plugs.push_back(PlugRow(PIN_TYPE_FLOAT, nullptr));
    SEPinProperties record;
    std::memset(&record, 0, sizeof(record));
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, 0, 0, &record), 1);
    EXPECT_EQ(record.datatype, PIN_TYPE_FLOAT);
    // An index the class does not describe: 0, and the all-zero record passes the check.
    std::memset(&record, 0, sizeof(record));
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, 4, 0, &record), 0);
    // The record is the host's: not zeroed by the base before the operation.
    record.flags = 0x1234;
    record.datatype = 99;
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, 4, 0, &record), 0);
    EXPECT_EQ(record.flags, 0x1234);
    EXPECT_EQ(record.datatype, 99);
    // No record at all: nothing to fill, 0.
    EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, 0, 0, nullptr), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"GetPinProperties 0", "GetPinProperties 4",
                                             "GetPinProperties 4"}));
}

TEST_F(ModuleBaseTest, PatchStoreIsAcceptedWithPrivateOutputOrGuiCommunication) {
    ProbeModule* probe = MakeProbe();
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, nullptr, IO_PATCH_STORE, DR_OUT));
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, nullptr, IO_PATCH_STORE | IO_PRIVATE, DR_IN));
    probe->plugs.push_back(
        PlugRow(PIN_TYPE_INT, nullptr, IO_PATCH_STORE | IO_UI_COMMUNICATION, DR_IN));
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, nullptr, IO_PRIVATE | IO_REPEAT_LAST, DR_IN));
    for (int32_t index = 0; index < 4; ++index) {
        SEPinProperties record;
        std::memset(&record, 0, sizeof(record));
        EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, index, 0, &record), 1);
    }
}

TEST_F(ModuleBaseTest, TwoObjectsShareOneQueryReply) {
    ProbeModule* first = MakeProbe();
    ProbeModule* second = new ProbeModule(FakeHost::Callback(), 0);
    AudioPlugRecord* second_plug = second->PlugRecord();

    const intptr_t reply_first = FakeHost::Dispatch(rig.plug, AUDIO_OP_QUERY_PROCESS);
    const ProcessQueryReply* reply = reinterpret_cast<const ProcessQueryReply*>(reply_first);
    EXPECT_EQ(reply->one, 1);
    EXPECT_EQ(reply->selection_size, static_cast<int32_t>(sizeof(ProcessSelection)));
    EXPECT_EQ(reply->selection, first->Selection());
    EXPECT_EQ(reply->zero, 0);

    const intptr_t reply_second = FakeHost::Dispatch(second_plug, AUDIO_OP_QUERY_PROCESS);
    EXPECT_EQ(reply_second, reply_first);
    EXPECT_EQ(reply->selection, second->Selection());
    EXPECT_EQ(reply->selection->routine, &SEModule_base_EmptyProcess);
    EXPECT_TRUE(rig.Requests().empty());
    EXPECT_EQ(FakeHost::Dispatch(second_plug, AUDIO_OP_CLOSE), 1);
}

TEST_F(ModuleBaseTest, SetProcessRoutineAnnouncesOnlyChanges) {
    ProbeModule* probe = MakeProbe();
    probe->SetProcessRoutine(ProcessSelection{&SEModule_base_EmptyProcess, 0, 0});
    EXPECT_TRUE(rig.Requests().empty());

    probe->SetProcessRoutine(ProcessSelection{&SEModule_base_EmptyProcess, 5, 0});
    ASSERT_EQ(rig.Requests().size(), 1u);
    ExpectRequest(rig.Requests()[0], rig.plug, AUDIO_RQ_PROCESS_CHANGED, 0, 0, nullptr);
    EXPECT_EQ(rig.plug->process, &SEModule_base_EmptyProcess);
    EXPECT_EQ(probe->Selection()->word1, 5);

    probe->SetProcessRoutine(ProcessSelection{&SEModule_base_EmptyProcess, 5, 6});
    EXPECT_EQ(rig.Requests().size(), 2u);
    EXPECT_EQ(probe->Selection()->word2, 6);

    probe->SetProcessRoutine(ProcessSelection{&OtherProcess, 5, 6});
    EXPECT_EQ(rig.Requests().size(), 3u);
    EXPECT_EQ(rig.plug->process, &OtherProcess);
    probe->SetProcessRoutine(ProcessSelection{&OtherProcess, 5, 6});
    EXPECT_EQ(rig.Requests().size(), 3u);
}

TEST_F(ModuleBaseTest, CloseRunsCloseThenTheDestructor) {
    ProbeModule* probe = MakeProbe();
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, nullptr));
    rig.pin_count = 4;
    FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);
    EXPECT_EQ(probe->PinCount(), 4);
    log.clear();
    AudioPlugRecord* plug = rig.plug;
    rig.plug = nullptr; // closed here, not by the rig
    EXPECT_EQ(FakeHost::Dispatch(plug, AUDIO_OP_CLOSE), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"Close", "~ProbeModule"}));
}

TEST_F(ModuleBaseTest, EveryEventAsksForTheSampleClockOnce) {
    MakeProbe();
    rig.clock = 500;
    for (int32_t kind : {6, 1, 5, 20, -3, 1000}) {
        rig.Host().Clear();
        HostEvent event{500, kind, 1, 2, 0};
        FakeHost::SendEvent(rig.plug, event);
        ASSERT_EQ(rig.Requests().size(), 1u) << kind;
        ExpectRequest(rig.Requests()[0], rig.plug, AUDIO_RQ_SAMPLE_CLOCK, 0, 0, nullptr);
    }
    EXPECT_TRUE(log.empty());
}

TEST_F(ModuleBaseTest, Kind2PassesTheLowHalfOfValue2) {
    MakeProbe();
    rig.clock = 9;
    HostEvent event{9, EVENT_KIND_2, 1234, 0x12348765, 0};
    FakeHost::SendEvent(rig.plug, event);
    EXPECT_EQ(log, (std::vector<std::string>{"OnEventKind2 9 1234 " +
                                             std::to_string(static_cast<int16_t>(0x8765))}));
    log.clear();
    HostEvent small{9, EVENT_KIND_2, -5, 0x7FFF0042, 0};
    FakeHost::SendEvent(rig.plug, small);
    EXPECT_EQ(log, (std::vector<std::string>{"OnEventKind2 9 -5 66"}));
}

TEST_F(ModuleBaseTest, Kind21RunsTheRoutineWithTheObject) {
    ProbeModule* probe = MakeProbe();
    HostEvent event{0, EVENT_RUN_ROUTINE, 0, 0, reinterpret_cast<intptr_t>(&RecordRoutine)};
    FakeHost::SendEvent(rig.plug, event);
    EXPECT_EQ(log,
              (std::vector<std::string>{"routine " + std::to_string(reinterpret_cast<uintptr_t>(
                                                         static_cast<SEModule_base*>(probe)))}));
}

TEST_F(ModuleBaseTest, Kind21WithoutARoutineIsIgnored) {
    MakeProbe();
    HostEvent event{0, EVENT_RUN_ROUTINE, 0, 0, 0};
    FakeHost::SendEvent(rig.plug, event);
    EXPECT_TRUE(log.empty());
    ASSERT_EQ(rig.Requests().size(), 1u);
    EXPECT_EQ(rig.Requests()[0].opcode, AUDIO_RQ_SAMPLE_CLOCK);
}

TEST_F(ModuleBaseTest, WithoutAHostCallbackRequestsYieldZero) {
    ProbeModule* probe = new ProbeModule(nullptr, 5);
    AudioPlugRecord* plug = probe->PlugRecord();
    probe->plugs.push_back(PlugRow(PIN_TYPE_AUDIO, nullptr, IO_REPEAT_LAST));
    EXPECT_EQ(probe->CallHost(AUDIO_RQ_PIN_COUNT, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(probe->SampleClock(), 0);
    // Open gets a count of 0: it queries 0 and then -1, and builds nothing.
    EXPECT_EQ(FakeHost::Dispatch(plug, AUDIO_OP_OPEN), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"Open", "GetPinProperties 0", "GetPinProperties -1"}));
    EXPECT_EQ(probe->PinCount(), 0);
    // Events stamped 0 pass the event-time test.
    log.clear();
    HostEvent event{0, EVENT_KIND_2, 1, 2, 0};
    FakeHost::SendEvent(plug, event);
    EXPECT_EQ(log, (std::vector<std::string>{"OnEventKind2 0 1 2"}));
    probe->SetProcessRoutine(ProcessSelection{&OtherProcess, 0, 0});
    EXPECT_EQ(plug->process, &OtherProcess);
    EXPECT_TRUE(rig.Requests().empty());
    EXPECT_EQ(FakeHost::Dispatch(plug, AUDIO_OP_CLOSE), 1);
}

// ---- The pins -------------------------------------------------------------------------------

TEST_F(ModuleBaseTest, StatusOneIsVisibleOnlyDuringTheNotification) {
    ProbeModule* probe = MakeProbe();
    int32_t value = 0;
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, &value));
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, &value));
    rig.pin_count = 2;
    FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);
    log.clear();
    rig.PinEvent(1, 1);
    EXPECT_EQ(probe->GetPin(1)->Status(), 0);
    rig.PinEvent(0, 2);
    EXPECT_EQ(probe->GetPin(0)->Status(), 2);
    EXPECT_EQ(log, (std::vector<std::string>{"OnPlugStateChange 1 status 1",
                                             "OnPlugStateChange 0 status 2"}));
}

TEST_F(ModuleBaseTest, RepeatLastBuildsAudioPinsWithInlineBuffers) {
    ProbeModule* probe = MakeProbe();
    float* buffer_variable = nullptr;
    int32_t int_variable = 0;
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, &int_variable));
    probe->plugs.push_back(PlugRow(PIN_TYPE_AUDIO, &buffer_variable, IO_REPEAT_LAST));
    rig.pin_count = 4;
    FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);

    EXPECT_EQ(log, (std::vector<std::string>{"Open", "GetPinProperties 0", "GetPinProperties 1",
                                             "GetPinProperties 2", "GetPinProperties 1"}));
    ASSERT_EQ(probe->PinCount(), 4);
    EXPECT_EQ(probe->GetPin(0)->Variable(), &int_variable);
    EXPECT_EQ(probe->GetPin(1)->Variable(), &buffer_variable);
    for (int32_t i = 2; i < 4; ++i) {
        SEPin* pin = probe->GetPin(i);
        EXPECT_TRUE(pin->IsBound());
        EXPECT_EQ(pin->Owner(), probe);
        EXPECT_EQ(pin->Index(), i);
        EXPECT_EQ(pin->Datatype(), PIN_TYPE_AUDIO);
        EXPECT_TRUE(pin->UsesInlineStorage());
        EXPECT_EQ(reinterpret_cast<intptr_t>(pin->StoredBuffer()), rig.pin_buffer + i);
    }
    // Requests: the count, then one buffer request per repeated pin, in order.
    const std::vector<HostRequest>& requests = rig.Requests();
    ASSERT_EQ(requests.size(), 3u);
    ExpectRequest(requests[0], rig.plug, AUDIO_RQ_PIN_COUNT, 0, 0, nullptr);
    for (int32_t k = 1; k < 3; ++k) {
        ExpectRequest(requests[k], rig.plug, AUDIO_RQ_PIN_BUFFER, k + 1, 0, nullptr);
    }
}

TEST_F(ModuleBaseTest, FirstQueryFalseQueriesMinusOne) {
    MakeProbe();
    rig.pin_count = 2;
    FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);
    EXPECT_EQ(log, (std::vector<std::string>{"Open", "GetPinProperties 0", "GetPinProperties -1"}));
}

TEST_F(ModuleBaseTest, InlineStorageFollowsTheDatatype) {
    struct Case {
        int32_t datatype;
        bool storage;
    };
    for (Case c :
         {Case{PIN_TYPE_ENUM, true}, Case{PIN_TYPE_BOOL, true}, Case{PIN_TYPE_FLOAT, true},
          Case{PIN_TYPE_INT, true}, Case{PIN_TYPE_AUDIO, true}, Case{1, false}, Case{2, false},
          Case{3, false}, Case{7, false}, Case{9, false}, Case{-4, false}}) {
        ProbeModule* probe = new ProbeModule(FakeHost::Callback(), 0);
        AudioPlugRecord* plug = probe->PlugRecord();
        int32_t variable = 0;
        probe->plugs.push_back(PlugRow(c.datatype, &variable, IO_REPEAT_LAST));
        rig.pin_count = 2;
        rig.Host().Clear();
        FakeHost::Dispatch(plug, AUDIO_OP_OPEN);
        SEPin* named = probe->GetPin(0);
        EXPECT_EQ(named->Variable(), &variable) << c.datatype;
        SEPin* repeated = probe->GetPin(1);
        EXPECT_TRUE(repeated->IsBound());
        EXPECT_EQ(repeated->Datatype(), c.datatype);
        EXPECT_EQ(repeated->UsesInlineStorage(), c.storage) << c.datatype;
        if (!c.storage) {
            EXPECT_EQ(repeated->Variable(), nullptr);
        } else if (c.datatype != PIN_TYPE_AUDIO) {
            EXPECT_EQ(repeated->StoredInt(), 0);
        }
        // A buffer request only for the audio pin that names no variable.
        EXPECT_EQ(rig.Host().RequestsWithOpcode(AUDIO_RQ_PIN_BUFFER).size(),
                  c.datatype == PIN_TYPE_AUDIO ? 1u : 0u);
        FakeHost::Dispatch(plug, AUDIO_OP_CLOSE);
    }
}

TEST_F(ModuleBaseTest, GuiOnlyPlugsTakeNoPin) {
    ProbeModule* probe = MakeProbe();
    int32_t a = 0, b = 0, c = 0;
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, &a));
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, &b, IO_UI_COMMUNICATION));
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, &c, IO_UI_COMMUNICATION | IO_UI_SHARED));
    rig.pin_count = 3;
    FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);
    EXPECT_EQ(probe->GetPin(0)->Variable(), &a);
    EXPECT_EQ(probe->GetPin(1)->Variable(), &c);
    EXPECT_EQ(probe->GetPin(1)->Index(), 1);
    EXPECT_FALSE(probe->GetPin(2)->IsBound());
    EXPECT_EQ(probe->GetPin(2)->Variable(), nullptr);
}

TEST_F(ModuleBaseTest, CountOfZeroBuildsNothingAndDestroysCleanly) {
    ProbeModule* probe = MakeProbe();
    probe->plugs.push_back(PlugRow(PIN_TYPE_INT, nullptr, IO_REPEAT_LAST));
    rig.pin_count = 0;
    FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);
    EXPECT_EQ(probe->PinCount(), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"Open", "GetPinProperties 0", "GetPinProperties -1"}));
}
