// The host's pieces: choice lists, value texts, the loader, and an instance of a test module
// whose plug table differs from the display's.
#include "HostError.h"
#include "Instance.h"
#include "ModuleLibrary.h"
#include "PlugTable.h"
#include "test_module.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <numeric>

using namespace sehost;

namespace {

std::vector<std::pair<std::string, int32_t>> Pairs(const std::vector<Choice>& choices) {
    std::vector<std::pair<std::string, int32_t>> pairs;
    for (const Choice& c : choices) {
        pairs.emplace_back(c.name, c.value);
    }
    return pairs;
}

TEST(ChoiceList, ValuesCountOnFromTheLastExplicitOne) {
    using P = std::vector<std::pair<std::string, int32_t>>;
    EXPECT_EQ(Pairs(ParseChoiceList("A=-1,B,C")), (P{{"A", -1}, {"B", 0}, {"C", 1}}));
    EXPECT_EQ(Pairs(ParseChoiceList("OFF,ON,HOLD")), (P{{"OFF", 0}, {"ON", 1}, {"HOLD", 2}}));
    EXPECT_EQ(Pairs(ParseChoiceList("x=5,y,z=+2,w")), (P{{"x", 5}, {"y", 6}, {"z", 2}, {"w", 3}}));
    // Names keep their spaces and punctuation.
    EXPECT_EQ(Pairs(ParseChoiceList("Sample Sync=-1,Line+Smooth")),
              (P{{"Sample Sync", -1}, {"Line+Smooth", 0}}));
    EXPECT_TRUE(ParseChoiceList("").empty());
}

TEST(ChoiceList, RefusesWhatItCannotNumber) {
    for (const char* bad : {"A,,B", "A,", "=3", "A=", "A=x", "A=1.5", "A=40000", "A=32767,B"}) {
        EXPECT_THROW(ParseChoiceList(bad), HostError) << bad;
    }
}

TEST(PlugValue, TextsFollowThePlugType) {
    PlugInfo shape;
    shape.name = "Shape";
    shape.datatype = PIN_TYPE_ENUM;
    shape.choices = ParseChoiceList("Low=-2,Mid,High=5");
    std::string error;
    EXPECT_EQ(ParsePlugValue(shape, "Low", error), NormaliseInt(PIN_TYPE_ENUM, -2));
    EXPECT_EQ(ParsePlugValue(shape, "5", error), 5u);
    EXPECT_FALSE(ParsePlugValue(shape, "4", error));
    EXPECT_FALSE(ParsePlugValue(shape, "low", error));
    EXPECT_NE(error.find("Low, Mid, High"), std::string::npos) << error;

    PlugInfo number;
    number.name = "N";
    number.datatype = PIN_TYPE_INT;
    EXPECT_EQ(ParsePlugValue(number, "-7", error), static_cast<uint32_t>(-7));
    EXPECT_FALSE(ParsePlugValue(number, "2147483648", error));
    EXPECT_FALSE(ParsePlugValue(number, "12abc", error));

    PlugInfo real;
    real.name = "R";
    real.datatype = PIN_TYPE_FLOAT;
    EXPECT_EQ(ParsePlugValue(real, "2.5", error), FloatBits(2.5f));
    EXPECT_FALSE(ParsePlugValue(real, "nan", error));
    EXPECT_FALSE(ParsePlugValue(real, "1e40", error));

    PlugInfo audio;
    audio.name = "A";
    audio.datatype = PIN_TYPE_AUDIO;
    EXPECT_FALSE(ParsePlugValue(audio, "0", error));
}

TEST(PlugValue, StoredValuesFitTheVariables) {
    EXPECT_EQ(NormaliseInt(PIN_TYPE_ENUM, 0x12345), 0x2345u);
    EXPECT_EQ(NormaliseInt(PIN_TYPE_ENUM, 0xFFFF), 0xFFFFFFFFu); // sign of the 16-bit value
    EXPECT_EQ(NormaliseInt(PIN_TYPE_BOOL, 256), 1u);
    EXPECT_EQ(NormaliseInt(PIN_TYPE_INT, -5), static_cast<uint32_t>(-5));
}

class Loader : public ::testing::Test {
protected:
    std::string Message(const std::string& path) {
        try {
            ModuleLibrary::Load(path);
        } catch (const HostError& e) {
            return e.what();
        }
        return "";
    }
};

TEST_F(Loader, RefusesMissingFilesNonLibrariesAndLibrariesWithoutTheExports) {
    EXPECT_NE(Message("/nonexistent/Module.so").find("not found"), std::string::npos);
    EXPECT_NE(Message("/tmp").find("not a file"), std::string::npos);
    const std::string text = testing::TempDir() + "/host_test_not_a_library.so";
    std::ofstream(text) << "just text\n";
    EXPECT_NE(Message(text).find("not a loadable library"), std::string::npos);
    std::remove(text.c_str());
    const std::string half = Message(NO_EXPORTS_PATH);
    EXPECT_NE(half.find("does not export makeModule"), std::string::npos) << half;
    EXPECT_EQ(Message(TEST_MODULE_PATH), "");
}

class TestModuleHost : public ::testing::Test {
protected:
    void SetUp() override {
        library = ModuleLibrary::Load(TEST_MODULE_PATH);
        settings.sample_rate = 44100.0f;
        settings.block_size = 64;
        settings.frames_per_second = 100.0;
        settings.width = 32;
        settings.height = 8;
        instance = std::make_unique<Instance>(*library, settings);
        // The library the host loaded is the one whose log we read (same file, one copy).
        void* self = dlopen(TEST_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(self, nullptr);
        log = reinterpret_cast<TestLog* (*)()>(dlsym(self, "testModuleLog"))();
        dlclose(self);
    }
    int32_t Index(const char* name) { return instance->FindPlug(name)->index; }

    std::unique_ptr<ModuleLibrary> library;
    InstanceSettings settings;
    std::unique_ptr<Instance> instance;
    TestLog* log = nullptr;
};

TEST_F(TestModuleHost, LearnsThePlugsFromTheTableAlone) {
    const auto& plugs = instance->Plugs();
    ASSERT_EQ(plugs.size(), 6u);
    std::vector<int32_t> pins;
    std::vector<bool> view;
    for (const PlugInfo& p : plugs) {
        pins.push_back(p.pin_index);
        view.push_back(p.gui_side);
    }
    EXPECT_EQ(pins, (std::vector<int32_t>{0, 1, 2, -1, 3, 4}));
    EXPECT_EQ(view, (std::vector<bool>{false, false, true, true, false, false}));
    EXPECT_EQ(Pairs(plugs[Index("Shape")].choices), (std::vector<std::pair<std::string, int32_t>>{
                                                        {"Low", -2}, {"Mid", -1}, {"High", 5}}));
    EXPECT_EQ(log->pin_count, 5);
    EXPECT_EQ(log->sample_rate_seen, 44100.0f);
    EXPECT_EQ(log->block_size_seen, 64);
}

TEST_F(TestModuleHost, StartValuesReachTheVariablesBeforeOpenAndAreAnnouncedAfter) {
    ASSERT_TRUE(log->opened);
    EXPECT_NE(log->in_seen, nullptr);
    EXPECT_NE(log->out_buffer, nullptr);
    EXPECT_NE(log->in_seen, log->out_buffer);
    // Level, Shape and Flag, in pin order, each with its default text applied.
    ASSERT_EQ(log->events.size(), 3u);
    EXPECT_EQ(log->events[0].pin, 0);
    EXPECT_EQ(log->events[1].pin, 2);
    EXPECT_EQ(log->events[2].pin, 3);
    EXPECT_EQ(log->events[0].level, 0.5f);
    EXPECT_EQ(log->events[0].shape, -1);
    EXPECT_EQ(log->events[0].flag, 1);
    EXPECT_EQ(log->events[0].status, kPinStatusChanged);
    EXPECT_EQ(log->clock_mismatches, 0);
    // The view's own start value is held and reported back to it.
    EXPECT_EQ(static_cast<int32_t>(instance->PlugValue(Index("Colour"))), 7);
    ASSERT_FALSE(log->pin_changes.empty());
    EXPECT_EQ(log->pin_changes.back(), std::make_pair(Index("Colour"), 7));
}

TEST_F(TestModuleHost, HostChangesGoWhereThePlugLives) {
    instance->Run(nullptr, 1000);
    log->events.clear();
    log->pin_changes.clear();
    instance->SetPlug(Index("Level"), FloatBits(0.25f)); // audio only
    instance->SetPlug(Index("Colour"), 99);              // view only
    // The view moved "Shape" to High during the run; Low is a change.
    instance->SetPlug(Index("Shape"), static_cast<uint32_t>(-2)); // both
    instance->SetPlug(Index("Shape"), static_cast<uint32_t>(-2)); // no change, no news
    ASSERT_EQ(log->events.size(), 2u);
    EXPECT_EQ(log->events[0].pin, 0);
    EXPECT_EQ(log->events[0].level, 0.25f);
    EXPECT_EQ(log->events[1].pin, 2);
    EXPECT_EQ(log->events[1].shape, -2);
    EXPECT_EQ(log->events[1].time_stamp, 1000);
    EXPECT_EQ(log->clock_mismatches, 0);
    EXPECT_EQ(log->pin_changes, (std::vector<std::pair<int32_t, int32_t>>{{Index("Colour"), 99},
                                                                          {Index("Shape"), -2}}));
    EXPECT_THROW(instance->SetPlug(Index("In"), 0), HostError);
    EXPECT_THROW(instance->SetPlug(6, 0), HostError);
}

TEST_F(TestModuleHost, RunsBlocksThatEndOnPaintTicksAndCarriesTheInput) {
    std::vector<float> input(1000);
    std::iota(input.begin(), input.end(), 0.0f);
    log->block_sizes.clear();
    instance->Run(input.data(), 1000);
    EXPECT_EQ(instance->Clock(), 1000);
    EXPECT_EQ(log->samples, 1000);
    EXPECT_DOUBLE_EQ(log->input_sum, 999.0 * 1000.0 / 2.0);
    // 44100 / 100 paints per second: ticks at 441 and 882 cut the 64-sample blocks.
    int64_t at = 0;
    for (int32_t n : log->block_sizes) {
        EXPECT_LE(n, 64);
        EXPECT_FALSE(at < 441 && at + n > 441) << "a block crosses the tick at 441";
        EXPECT_FALSE(at < 882 && at + n > 882) << "a block crosses the tick at 882";
        at += n;
    }
}

TEST_F(TestModuleHost, RelaysMessagesBothWaysInOrderWithCopiedBytes) {
    instance->Run(nullptr, 1050);
    ASSERT_EQ(log->received.size(), 10u);
    for (uint32_t k = 0; k < 10; ++k) {
        uint32_t n;
        ASSERT_EQ(log->received[k].size(), 4u);
        std::memcpy(&n, log->received[k].data(), 4);
        EXPECT_EQ(n, k + 1); // not the 0xEE the module wrote after sending
    }
    EXPECT_EQ(log->notifies.size(), 10u);
    EXPECT_EQ(log->notifies.front(), std::make_pair(-1, 0));
    EXPECT_EQ(instance->MessagesToView(), 10);
    // The view moved the shared plug from inside its receive: the change reached the view
    // after that call returned, and the audio side with a correct time stamp.
    EXPECT_EQ(log->reentered, 0);
    EXPECT_EQ(static_cast<int16_t>(instance->PlugValue(Index("Shape"))), 5);
    EXPECT_EQ(log->events.back().pin, 2);
    EXPECT_EQ(log->events.back().shape, 5);
    EXPECT_EQ(log->clock_mismatches, 0);
    EXPECT_EQ(log->pin_changes.back(), std::make_pair(Index("Shape"), 5));
}

TEST_F(TestModuleHost, PaintsOnlyWhenAskedAndAtMostOncePerTick) {
    // The first tick paints the freshly shown view; afterwards every message asks again.
    instance->Run(nullptr, 441 * 5);
    EXPECT_EQ(log->paint_width, 32);
    EXPECT_EQ(log->paint_height, 8);
    EXPECT_EQ(instance->PaintCount(), 6); // ticks at 0, 441, ..., 2205
    for (int32_t handle : log->paint_handles) {
        EXPECT_NE(handle, 0);
    }
    // Once the messages stop, the view stops asking and nothing more is painted.
    instance->SetPlug(Index("Flag"), 0);
    instance->Run(nullptr, 441 * 2); // the tick at 2205 paints what arrived before it
    const int64_t paints = instance->PaintCount();
    instance->Run(nullptr, 441 * 10);
    EXPECT_EQ(instance->PaintCount(), paints);
    instance->SetPlug(Index("Flag"), 1);
    instance->Run(nullptr, 441 * 3);
    EXPECT_GT(instance->PaintCount(), paints);
}

TEST_F(TestModuleHost, ClosesBothHalves) {
    instance.reset();
    EXPECT_TRUE(log->audio_closed);
    EXPECT_TRUE(log->view_closed);
}

TEST(Settings, UnusableSettingsAreRefused) {
    auto library = ModuleLibrary::Load(TEST_MODULE_PATH);
    InstanceSettings s;
    s.block_size = 0;
    EXPECT_THROW(Instance(*library, s), HostError);
    s = InstanceSettings();
    s.frames_per_second = 0.0;
    EXPECT_THROW(Instance(*library, s), HostError);
    s = InstanceSettings();
    s.width = 0;
    EXPECT_THROW(Instance(*library, s), HostError);
}

} // namespace
