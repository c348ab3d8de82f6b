// The plug table as the host reads it, and the pins the base builds from it.
#include "AudioTestSupport.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Row {
    const char* name;
    int32_t datatype;
    const char* default_text;
    const char* type_text;
    int32_t flags;
};

const Row kTable[19] = {
    {"Audio_In", PIN_TYPE_AUDIO, nullptr, nullptr, 0},
    {"Display Type", PIN_TYPE_ENUM, "0",
     "Sample Sync=-1,Sample,1ms,2ms,5ms,10ms,20ms,40ms,60ms,80ms,100ms,200ms", 0},
    {"Active", PIN_TYPE_ENUM, nullptr, "OFF,ON,HOLD", 0x8400},
    {"Display Y Magnify", PIN_TYPE_FLOAT, nullptr, nullptr, 0x400},
    {"Background Red", PIN_TYPE_INT, nullptr, "0", 0x400},
    {"Background Green", PIN_TYPE_INT, nullptr, "0", 0x400},
    {"Background Blue", PIN_TYPE_INT, nullptr, "0", 0x400},
    {"Background Alpha (blend)", PIN_TYPE_INT, nullptr, nullptr, 0x400},
    {"Waveform Red", PIN_TYPE_INT, nullptr, "255", 0x400},
    {"Waveform Green", PIN_TYPE_INT, nullptr, "255", 0x400},
    {"Waveform Blue", PIN_TYPE_INT, nullptr, "255", 0x400},
    {"Waveform Alpha (blend)", PIN_TYPE_INT, nullptr, nullptr, 0x400},
    {"Shading Red", PIN_TYPE_INT, nullptr, nullptr, 0x400},
    {"Shading Green", PIN_TYPE_INT, nullptr, nullptr, 0x400},
    {"Shading Blue", PIN_TYPE_INT, nullptr, nullptr, 0x400},
    {"Shading Alpha (blend)", PIN_TYPE_INT, nullptr, nullptr, 0x400},
    {"Shading X%", PIN_TYPE_INT, nullptr, nullptr, 0x400},
    {"Shading Y%", PIN_TYPE_INT, nullptr, nullptr, 0x400},
    {"GUI_FX_Mode", PIN_TYPE_ENUM, nullptr, "Line,Solid,Line+Smooth,Solid+Smooth", 0x400},
};

std::string Text(const char* text) {
    return text == nullptr ? std::string("(null)") : std::string(text);
}

class PlugTableTest : public testing::Test {
protected:
    void SetUp() override { rig.Adopt(rig.Host().MakeAudio()); }
    AudioRig rig;
};

} // namespace

TEST_F(PlugTableTest, EnumerationYieldsNineteenPlugsInTableOrder) {
    std::vector<SEPinProperties> records;
    for (int32_t index = 0;; ++index) {
        SEPinProperties record;
        std::memset(&record, 0, sizeof(record));
        if (FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, index, 0, &record) == 0) {
            break;
        }
        records.push_back(record);
        ASSERT_LT(index, 100);
    }
    ASSERT_EQ(records.size(), 19u);
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE("plug " + std::to_string(i));
        const SEPinProperties& r = records[i];
        EXPECT_EQ(Text(r.name), Text(kTable[i].name));
        EXPECT_EQ(r.direction, DR_IN);
        EXPECT_EQ(r.datatype, kTable[i].datatype);
        EXPECT_EQ(Text(r.default_text), Text(kTable[i].default_text));
        EXPECT_EQ(Text(r.type_text), Text(kTable[i].type_text));
        EXPECT_EQ(r.flags, kTable[i].flags);
        EXPECT_EQ(r.reserved, 0);
        if (i >= 3) {
            EXPECT_EQ(r.variable, nullptr);
        }
    }
    // Plugs 0 to 2 point at three distinct variables inside the object.
    const char* object = static_cast<const char*>(static_cast<const void*>(rig.Object()));
    for (size_t i = 0; i < 3; ++i) {
        const char* variable = static_cast<const char*>(records[i].variable);
        ASSERT_NE(variable, nullptr);
        EXPECT_GT(variable, object);
        EXPECT_LT(variable, object + sizeof(Module));
    }
    EXPECT_NE(records[0].variable, records[1].variable);
    EXPECT_NE(records[1].variable, records[2].variable);
    // No request goes to the host for any of this.
    EXPECT_TRUE(rig.Requests().empty());
}

TEST_F(PlugTableTest, IndicesOutsideTheTableLeaveTheRecordAlone) {
    for (int32_t index : {19, 20, -1, INT32_MIN, INT32_MAX}) {
        SEPinProperties record;
        std::memset(&record, 0xAB, sizeof(record));
        record.flags = 0; // so that the patch-store rule holds for this filled record
        SEPinProperties before = record;
        EXPECT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, index, 0, &record), 0)
            << index;
        EXPECT_EQ(std::memcmp(&record, &before, sizeof(record)), 0) << index;
    }
}

TEST_F(PlugTableTest, EmptyCellsKeepWhatTheHostPutThere) {
    int marker = 0;
    SEPinProperties record;
    std::memset(&record, 0, sizeof(record));
    record.variable = &marker;
    record.default_text = "host default";
    record.type_text = "host type";
    record.flags = 0x20;
    record.reserved = 7;
    ASSERT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, PLUG_MAGNIFY, 0, &record),
              1);
    EXPECT_EQ(record.variable, &marker);
    EXPECT_EQ(Text(record.default_text), "host default");
    EXPECT_EQ(Text(record.type_text), "host type");
    EXPECT_EQ(record.flags, IO_UI_COMMUNICATION); // written in rows 2 to 18
    EXPECT_EQ(record.reserved, 7);

    record.flags = 0x20;
    ASSERT_EQ(FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, PLUG_AUDIO_IN, 0, &record),
              1);
    EXPECT_NE(record.variable, &marker);
    EXPECT_EQ(record.flags, 0x20); // row 0 writes no flags
    EXPECT_EQ(Text(record.default_text), "host default");
}

// Pin building with this table.
TEST(PinsFromThePlugTable, CountOfThreeBindsPlugsZeroToTwo) {
    AudioRig rig;
    rig.pin_count = 3;
    LoggingModule* module = new LoggingModule(FakeHost::Callback(), 0);
    rig.Adopt(module->PlugRecord());
    rig.LearnVariables();
    module->queries.clear();
    FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);

    EXPECT_EQ(module->queries, (std::vector<int32_t>{0, 1, 2, 3, 2}));
    ASSERT_EQ(module->PinCount(), 3);
    EXPECT_EQ(module->GetPin(0)->Variable(), rig.input);
    EXPECT_EQ(module->GetPin(0)->Datatype(), PIN_TYPE_AUDIO);
    EXPECT_EQ(module->GetPin(1)->Variable(), rig.display_type);
    EXPECT_EQ(module->GetPin(2)->Variable(), rig.active);
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(module->GetPin(i)->Index(), i);
        EXPECT_EQ(module->GetPin(i)->Owner(), module);
        EXPECT_EQ(module->GetPin(i)->Status(), 0);
    }
    EXPECT_TRUE(rig.Host().RequestsWithOpcode(AUDIO_RQ_PIN_BUFFER).empty());
    // Open's requests: the count, then the new process routine.
    ASSERT_EQ(rig.Requests().size(), 2u);
    EXPECT_EQ(rig.Requests()[0].opcode, AUDIO_RQ_PIN_COUNT);
    EXPECT_EQ(rig.Requests()[1].opcode, AUDIO_RQ_PROCESS_CHANGED);
}

TEST(PinsFromThePlugTable, CountOfFiveLeavesTwoPinsUnbound) {
    AudioRig rig;
    rig.pin_count = 5;
    LoggingModule* module = new LoggingModule(FakeHost::Callback(), 0);
    rig.Adopt(module->PlugRecord());
    FakeHost::Dispatch(rig.plug, AUDIO_OP_OPEN);

    std::vector<int32_t> expected;
    for (int32_t q = 0; q <= 19; ++q) {
        expected.push_back(q);
    }
    expected.push_back(18);
    EXPECT_EQ(module->queries, expected);
    ASSERT_EQ(module->PinCount(), 5);
    EXPECT_TRUE(module->GetPin(2)->IsBound());
    EXPECT_FALSE(module->GetPin(3)->IsBound());
    EXPECT_FALSE(module->GetPin(4)->IsBound());
    EXPECT_EQ(module->GetPin(3)->Variable(), nullptr);
    EXPECT_EQ(module->GetPin(4)->Owner(), nullptr);
}
