// The five host-contract checks of SEModule_base: each stops the process and reports exactly
// "Assertion failed: EXPR, file ..\se_sdk2\SEModule_base, line N".
#include "AudioTestSupport.h"

#include <cstring>

namespace {

const char kPatchStoreExpression[] =
    "(((SEPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || "
    "(((SEPinProperties*)ptr)->flags & IO_PRIVATE) != 0 || "
    "((SEPinProperties*)ptr)->direction == DR_OUT || "
    "( ( (SEPinProperties*)ptr)->flags & IO_UI_COMMUNICATION) != 0";

// Reports one plug whose record breaks the patch-store rule.
class PatchStoreModule : public SEModule_base {
public:
    using SEModule_base::SEModule_base;
    bool GetPinProperties(int32_t index, SEPinProperties* properties) override {
        if (index != 0) {
            return false;
        }
        properties->direction = DR_IN;
        properties->datatype = PIN_TYPE_INT;
        properties->flags = IO_PATCH_STORE;
        return true;
    }
};

class ContractCheckTest : public testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

using ContractCheckDeathTest = ContractCheckTest;

} // namespace

TEST(ContractLineText, IsTheFullReportLine) {
    EXPECT_EQ(ContractLine("false", 99),
              "Assertion failed: false, file ..\\se_sdk2\\SEModule_base, line 99");
    // The file text has single backslashes in it.
    EXPECT_EQ(std::strlen("..\\se_sdk2\\SEModule_base"), 24u);
}

TEST_F(ContractCheckDeathTest, PatchStoreRuleLine80) {
    EXPECT_DEATH(([&] {
                     AudioRig rig;
                     rig.Adopt((new PatchStoreModule(FakeHost::Callback(), 0))->PlugRecord());
                     SEPinProperties record;
                     std::memset(&record, 0, sizeof(record));
                     FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, 0, 0, &record);
                 })(),
                 HasExactLine(ContractLine(kPatchStoreExpression, 80)));
}

TEST_F(ContractCheckDeathTest, PatchStoreRuleRunsOnTheHostsRecordEvenWhenFalse) {
    // The base answers false, but the host's record carries IO_PATCH_STORE on an input.
    EXPECT_DEATH(([&] {
                     AudioRig rig;
                     rig.MakeOpen();
                     SEPinProperties record;
                     std::memset(&record, 0, sizeof(record));
                     record.flags = IO_PATCH_STORE;
                     FakeHost::Dispatch(rig.plug, AUDIO_OP_GET_PIN_PROPERTIES, 19, 0, &record);
                 })(),
                 HasExactLine(ContractLine(kPatchStoreExpression, 80)));
}

TEST_F(ContractCheckDeathTest, Opcode7Line99) {
    EXPECT_DEATH(([&] {
                     AudioRig rig;
                     rig.MakeOpen();
                     FakeHost::Dispatch(rig.plug, AUDIO_OP_7);
                 })(),
                 HasExactLine(ContractLine("false", 99)));
}

TEST_F(ContractCheckDeathTest, Opcode10Line119) {
    EXPECT_DEATH(([&] {
                     AudioRig rig;
                     rig.MakeOpen();
                     FakeHost::Dispatch(rig.plug, AUDIO_OP_10);
                 })(),
                 HasExactLine(ContractLine("false", 119)));
}

TEST_F(ContractCheckDeathTest, PinEventWithoutPinsLine150) {
    EXPECT_DEATH(([&] {
                     AudioRig rig;
                     rig.Adopt(rig.Host().MakeAudio());
                     rig.PinEvent(0);
                 })(),
                 HasExactLine(ContractLine("m_pins != 0", 150)));
}

TEST_F(ContractCheckDeathTest, PinEventAfterAnOpenThatBuiltNoPinsLine150) {
    for (int32_t count : {0, -1, INT32_MIN, INT32_MAX}) {
        EXPECT_DEATH(([&] {
                         AudioRig rig;
                         rig.pin_count = count;
                         rig.MakeOpen();
                         rig.PinEvent(1);
                     })(),
                     HasExactLine(ContractLine("m_pins != 0", 150)))
            << count;
    }
}

TEST_F(ContractCheckDeathTest, EventTimeLine276) {
    EXPECT_DEATH(([&] {
                     AudioRig rig;
                     rig.MakeOpen();
                     rig.clock = 100;
                     HostEvent event{99, 6, 0, 0, 0};
                     FakeHost::SendEvent(rig.plug, event);
                 })(),
                 HasExactLine(ContractLine("e->time_stamp == SampleClock()", 276)));
}

TEST_F(ContractCheckDeathTest, EventTimeWithoutHostCallbackLine276) {
    EXPECT_DEATH(([&] {
                     AudioPlugRecord* plug =
                         static_cast<AudioPlugRecord*>((new Module(nullptr, 0))->PlugRecord());
                     HostEvent event{1, 6, 0, 0, 0};
                     FakeHost::SendEvent(plug, event);
                 })(),
                 HasExactLine(ContractLine("e->time_stamp == SampleClock()", 276)));
}
