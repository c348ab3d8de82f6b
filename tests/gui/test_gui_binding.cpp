// The GUI binding as a host sees it: the record, the opcodes, the requests and the plug access.
#include "FakeHost.h"
#include "GuiTestSupport.h"
#include "SEGUI_base.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

extern "C" void* makeModule(int32_t index, int32_t type, HostCallback callback,
                            intptr_t host_argument);

namespace {

// Logs which virtual operation the dispatcher reached, with its arguments.
class LoggingView : public SEGUI_base {
public:
    using SEGUI_base::SEGUI_base;
    ~LoggingView() override { *destroyed = true; }

    std::string log;
    bool* destroyed = &ignored;
    bool ignored = false;
    GuiPinRef seen_pin{};

    void Add(const std::string& entry) { log += entry + ";"; }
    void Initialise(bool loaded) override {
        Add(std::string("Initialise ") + (loaded ? "1" : "0"));
    }
    void Close() override { Add("Close"); }
    void Paint(int32_t dc, int32_t* size) override {
        Add("Paint " + std::to_string(dc) + (size != nullptr ? " size" : " null"));
    }
    void PointOp3(void*, uint32_t opt, GuiPoint p) override { AddPoint("3", opt, p); }
    void PointOp4(void*, uint32_t opt, GuiPoint p) override { AddPoint("4", opt, p); }
    void PointOp5(void*, uint32_t opt, GuiPoint p) override { AddPoint("5", opt, p); }
    void PtrOp8(void*) override { Add("Ptr8"); }
    void PtrOp9(void*) override { Add("Ptr9"); }
    bool QueryOp10() override {
        Add("Query10");
        return query_answer;
    }
    void IndexOp11(int32_t i) override { Add("Index11 " + std::to_string(i)); }
    void IndexOp12(int32_t i) override { Add("Index12 " + std::to_string(i)); }
    void Receive(int32_t value, int32_t index, void*) override {
        Add("Receive " + std::to_string(value) + " " + std::to_string(index));
    }
    void PinChanged(GuiPinRef* pin) override {
        seen_pin = *pin;
        Add("PinChanged " + std::to_string(pin->index));
    }
    bool query_answer = false;

private:
    void AddPoint(const char* op, uint32_t opt, GuiPoint p) {
        Add(std::string("Point") + op + " " + std::to_string(opt) + " " + std::to_string(p.index) +
            " " + std::to_string(p.value));
    }
};

TEST(GuiBinding, RecordReadsAsThe32BitWordsAHostExpects) {
    FakeHost host;
    LoggingView view(FakeHost::Callback(), 0x1234);
    GuiPlugRecord* plug = view.PlugRecord();
    EXPECT_EQ(plug->magic, 0x5345504D);
    EXPECT_EQ(plug->version, 1);
    EXPECT_EQ(plug->dispatcher, &SEGUI_base::DispatchEntry);
    EXPECT_EQ(plug->hostData, 0x1234);
    EXPECT_EQ(plug->owner, static_cast<SEGUI_base*>(&view));
    for (int32_t word : plug->reserved) {
        EXPECT_EQ(word, 0);
    }
    EXPECT_TRUE(host.Requests().empty()) << "construction sends nothing";
}

TEST(GuiBinding, EachOpcodeReachesOneOperationWithItsArguments) {
    FakeHost host;
    LoggingView view(FakeHost::Callback(), 0);
    GuiPlugRecord* plug = view.PlugRecord();
    int32_t size[2] = {10, 20};
    const float opt = 1.0f; // 0x3F800000
    struct Case {
        int32_t opcode, index, value;
        void* ptr;
        const char* expected;
    } cases[] = {
        {GUI_OP_INITIALISE, 1, 0, nullptr, "Initialise 1;"},
        {GUI_OP_INITIALISE, 0, 0, nullptr, "Initialise 0;"},
        {GUI_OP_INITIALISE, 2, 0, nullptr, "Initialise 0;"},
        {GUI_OP_INITIALISE, -1, 0, nullptr, "Initialise 0;"},
        {GUI_OP_PAINT, 7, 0, size, "Paint 7 size;"},
        {GUI_OP_3, 11, 22, nullptr, "Point3 1065353216 11 22;"},
        {GUI_OP_4, 11, 22, nullptr, "Point4 1065353216 11 22;"},
        {GUI_OP_5, 11, 22, nullptr, "Point5 1065353216 11 22;"},
        {GUI_OP_RECEIVE, 800, 0, size, "Receive 0 800;"},
        {GUI_OP_PIN_CHANGED, 5, 0, nullptr, "PinChanged 5;"},
        {GUI_OP_8, 0, 0, nullptr, "Ptr8;"},
        {GUI_OP_9, 0, 0, nullptr, "Ptr9;"},
        {GUI_OP_10, 0, 0, nullptr, "Query10;"},
        {GUI_OP_11, 3, 0, nullptr, "Index11 3;"},
        {GUI_OP_12, 4, 0, nullptr, "Index12 4;"},
        {13, 0, 0, nullptr, ""},
        {100, 0, 0, nullptr, ""},
        {-1, 0, 0, nullptr, ""},
    };
    for (const Case& c : cases) {
        view.log.clear();
        EXPECT_EQ(FakeHost::Dispatch(plug, c.opcode, c.index, c.value, c.ptr, opt), 0) << c.opcode;
        EXPECT_EQ(view.log, c.expected) << c.opcode;
    }
    EXPECT_EQ(view.seen_pin.index, 5);
    EXPECT_EQ(view.seen_pin.owner, &view);

    view.query_answer = true;
    EXPECT_EQ(FakeHost::Dispatch(plug, GUI_OP_10), 1);
}

TEST(GuiBinding, CloseDestroysTheObjectAndAnswersOne) {
    FakeHost host;
    bool destroyed = false;
    LoggingView* view = new LoggingView(FakeHost::Callback(), 0);
    view->destroyed = &destroyed;
    EXPECT_EQ(FakeHost::Dispatch(view->PlugRecord(), GUI_OP_CLOSE), 1);
    EXPECT_TRUE(destroyed);
}

TEST(GuiBinding, PlugAccessSendsValueRequestsThroughTheHost) {
    FakeHost host;
    LoggingView view(FakeHost::Callback(), 0);
    host.SetAnswer([](const HostRequest& r) -> intptr_t {
        if (r.opcode == GUI_RQ_GET_PIN_VALUE) {
            const float f = 2.5f;
            const int32_t i = -7;
            r.index == 3 ? std::memcpy(r.ptr, &f, 4) : std::memcpy(r.ptr, &i, 4);
        }
        return r.opcode == GUI_RQ_SET_PIN_VALUE ? 42 : 0;
    });

    GuiPinRef* first = view.GetPin(3);
    GuiPinRef* second = view.GetPin(9);
    EXPECT_EQ(first, second) << "one shared reference";
    EXPECT_EQ(second->index, 9);
    EXPECT_EQ(second->owner, &view);

    EXPECT_EQ(view.GetPin(5)->GetInt(), -7);
    EXPECT_EQ(view.GetPin(3)->GetFloat(), 2.5f);
    EXPECT_EQ(view.GetPin(8)->SetInt(255), 42);
    EXPECT_EQ(view.GetPin(3)->SetFloat(1.0f), 42);
    EXPECT_EQ(view.SendToAudio(-1, 6, &view), 0);

    const auto& r = host.Requests();
    ASSERT_EQ(r.size(), 5u);
    for (const HostRequest& request : r) {
        EXPECT_EQ(request.plug, view.PlugRecord());
    }
    EXPECT_EQ(r[0].opcode, GUI_RQ_GET_PIN_VALUE);
    EXPECT_EQ(r[0].index, 5);
    EXPECT_EQ(r[0].value, 0);
    EXPECT_NE(r[0].ptr, nullptr);
    EXPECT_EQ(r[1].index, 3);
    EXPECT_EQ(r[2].opcode, GUI_RQ_SET_PIN_VALUE);
    EXPECT_EQ(r[2].index, 8);
    EXPECT_EQ(r[2].value, 255);
    EXPECT_EQ(r[2].opt, 0.0f);
    EXPECT_EQ(r[2].ptr, nullptr);
    EXPECT_EQ(r[3].value, 0);
    EXPECT_EQ(r[3].opt, 1.0f);
    EXPECT_EQ(r[4].opcode, GUI_RQ_NOTIFY_AUDIO);
    EXPECT_EQ(r[4].index, 6);
    EXPECT_EQ(r[4].value, -1);
    EXPECT_EQ(r[4].ptr, &view);
}

TEST(GuiBinding, PinChangedReferenceReadsTheChangedPlugOfThatObject) {
    PlugHost host;
    host.ints[PLUG_SHADING_X_PERCENT] = 55;
    GuiPlugRecord* plug = host.MakeGui();
    host.Clear();
    FakeHost::Dispatch(plug, GUI_OP_PIN_CHANGED, PLUG_SHADING_X_PERCENT);
    const auto& r = host.Requests();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].opcode, GUI_RQ_GET_PIN_VALUE);
    EXPECT_EQ(r[0].index, PLUG_SHADING_X_PERCENT);
    EXPECT_EQ(r[0].plug, plug);
    EXPECT_EQ(Inspect::ShadingX(Inspect::Of(plug)), 55);
    EXPECT_EQ(FakeHost::Dispatch(plug, GUI_OP_10), 0);
    FakeHost::Dispatch(plug, GUI_OP_CLOSE);
}

const char kMissingCallback[] =
    "Assertion failed: seaudioMaster, file \\.\\.\\\\se_sdk2\\\\SEGUI_base, line 134\n";

TEST(GuiBindingDeathTest, RequestWithoutCallbackStopsWithTheContractText) {
    EXPECT_DEATH(
        {
            LoggingView view(nullptr, 0);
            view.GetPin(3)->GetInt();
        },
        kMissingCallback);
    // The view sends its first request while it is being constructed.
    EXPECT_DEATH(makeModule(0, MODULE_TYPE_GUI, nullptr, 0), kMissingCallback);
}

} // namespace
