// The audio path's promise: the process routine allocates nothing and sends no request except
// the one carrying a finished message (or AUDIO_RQ_IDLE while OFF).
#include "AudioTestSupport.h"

#include "AllocationCounter.h"

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct ModeCase {
    const char* name;
    int16_t display_type;
    int16_t active;
};

// Test names and CTest names show the mode's name only.
void PrintTo(const ModeCase& mode, std::ostream* os) {
    *os << mode.name;
}

class AudioPathTest : public testing::TestWithParam<ModeCase> {};

} // namespace

TEST_P(AudioPathTest, AllocatesNothingAndSendsOnlyMessages) {
    const ModeCase mode = GetParam();
    AudioRig rig;
    rig.MakeOpen();
    rig.SetActive(ACTIVE_ON);
    rig.SetDisplayType(mode.display_type);
    rig.SetActive(mode.active);
    std::vector<float> signal(1 << 14);
    for (size_t i = 0; i < signal.size(); ++i) {
        signal[i] = 0.9f * std::sin(static_cast<float>(i) * 0.031f);
    }
    rig.Host().Clear();

    size_t samples = 0;
    allocation_counter::Start();
    for (int32_t block : {16, 64, 256, 1024, 4096}) {
        for (size_t start = 0; start + static_cast<size_t>(block) <= signal.size();
             start += static_cast<size_t>(block)) {
            rig.Process(signal.data() + start, block);
            samples += static_cast<size_t>(block);
            rig.GuiNotify(); // the GUI side answers at once; that path allocates nothing too
        }
    }
    const size_t allocations = allocation_counter::Stop();
    EXPECT_EQ(allocations, 0u);

    size_t messages = 0;
    for (const HostRequest& request : rig.Requests()) {
        EXPECT_EQ(request.plug, rig.plug);
        if (mode.active == ACTIVE_OFF) {
            EXPECT_EQ(request.opcode, AUDIO_RQ_IDLE);
            continue;
        }
        if (request.opcode == AUDIO_RQ_IDLE) {
            EXPECT_EQ(mode.active, ACTIVE_HOLD); // after HOLD has switched itself off
            continue;
        }
        ASSERT_EQ(request.opcode, AUDIO_RQ_SEND_TO_GUI);
        ++messages;
        if (mode.display_type > 0) {
            EXPECT_EQ(request.index, 0);
            EXPECT_EQ(request.ptr, nullptr);
            EXPECT_EQ(static_cast<uint32_t>(request.value) >> 24, 0xFFu);
        } else {
            EXPECT_EQ(request.index, 800);
            EXPECT_EQ(request.value, 0);
        }
    }
    if (mode.active == ACTIVE_OFF) {
        EXPECT_EQ(messages, 0u);
    } else if (mode.active == ACTIVE_HOLD) {
        EXPECT_EQ(messages, 1u);
    } else {
        EXPECT_GT(messages, 0u);
    }
    EXPECT_GT(samples, 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, AudioPathTest,
                         testing::Values(ModeCase{"SampleSync", DISPLAY_SAMPLE_SYNC, ACTIVE_ON},
                                         ModeCase{"Sample", DISPLAY_SAMPLE, ACTIVE_ON},
                                         ModeCase{"Peak1ms", 1, ACTIVE_ON},
                                         ModeCase{"Peak200ms", 10, ACTIVE_ON},
                                         ModeCase{"Off", DISPLAY_SAMPLE, ACTIVE_OFF},
                                         ModeCase{"HoldSample", DISPLAY_SAMPLE, ACTIVE_HOLD},
                                         ModeCase{"HoldPeak", 1, ACTIVE_HOLD}),
                         [](const testing::TestParamInfo<ModeCase>& info) {
                             return std::string(info.param.name);
                         });
