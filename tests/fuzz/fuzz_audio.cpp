// Fuzzes the audio side: the input bytes become a sequence of host actions (rates, block sizes,
// opens, blocks of arbitrary samples, plug changes, notifications, events, stray opcodes), and
// every display message is compared with the capture model. A crash, a sanitizer report, an
// allocation or lock in the process routine or the event entry, or a message the model does not
// expect ends the run.
#include "CaptureModel.h"
#include "FuzzSupport.h"
#include "plugs.h"
#include "se_types.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using validator::CaptureModel;
using validator::Expectation;

struct AudioHost {
    AudioPlugRecord* audio = nullptr;
    int32_t pin_count = 3;
    int32_t pins = 0; // pins the module holds (0: none, no pin-status event may be sent)
    float module_rate = 44100.0f;
    uint32_t clock = 0;
    void* variables[3] = {};
    std::vector<float> buffer;
    bool input_null = false;
    bool opened = false; // before the open the process routine is the empty one

    CaptureModel model;
    Expectation expect;
    bool in_process = false;
    size_t next_peak = 0;
    bool frame_seen = false;
    int idle_seen = 0;
};

AudioHost* g_host = nullptr;

intptr_t Callback(void* plug, int32_t opcode, int32_t index, int32_t value, void* ptr, float) {
    const probe::HostScope scope;
    AudioHost& h = *g_host;
    FUZZ_CHECK(plug == h.audio, "a request with a record that is not the caller's");
    switch (opcode) {
    case AUDIO_RQ_SAMPLE_CLOCK:
        return static_cast<int32_t>(h.clock);
    case AUDIO_RQ_PIN_COUNT:
        return h.pin_count;
    case AUDIO_RQ_PROCESS_CHANGED:
        return 0;
    case AUDIO_RQ_IDLE:
        FUZZ_CHECK(h.in_process, "AUDIO_RQ_IDLE outside the process routine");
        ++h.idle_seen;
        return 0;
    case AUDIO_RQ_SEND_TO_GUI:
        FUZZ_CHECK(h.in_process, "a display message outside the process routine");
        if ((static_cast<uint32_t>(value) & 0xFF000000u) == 0) {
            FUZZ_CHECK(index == validator::kFrameLength && value == 0 && ptr != nullptr,
                       "a frame message of the wrong form");
            FUZZ_CHECK(h.expect.frame && !h.frame_seen, "a frame message the model did not send");
            h.frame_seen = true;
            const auto* bytes = static_cast<const uint8_t*>(ptr);
            for (int32_t i = 0; i < validator::kFrameLength; ++i) {
                FUZZ_CHECK(validator::FrameByteMatches(h.expect.frame_samples[i], bytes[i]),
                           "a frame byte that is not round(120 x + 128)");
            }
        } else {
            FUZZ_CHECK(index == 0 && ptr == nullptr, "a peak message of the wrong form");
            FUZZ_CHECK(h.next_peak < h.expect.peaks.size(),
                       "a peak message the model did not send");
            FUZZ_CHECK(validator::PeakMatches(value, h.expect.peaks[h.next_peak++]),
                       "a peak message that does not match its period");
        }
        return 0;
    default:
        FUZZ_CHECK(false, "an unknown request from the audio side");
        return 0;
    }
}

void Create(AudioHost& h, FuzzedDataProvider& in) {
    h.audio = static_cast<AudioPlugRecord*>(makeModule(0, MODULE_TYPE_AUDIO, &Callback, 1));
    FUZZ_CHECK(h.audio != nullptr, "makeModule made no audio side");
    for (int32_t plug = 0; plug < 3; ++plug) {
        SEPinProperties record{};
        h.audio->dispatcher(h.audio, AUDIO_OP_GET_PIN_PROPERTIES, plug, 0, &record, 0.0f);
        h.variables[plug] = record.variable;
    }
    h.pin_count = in.ConsumeIntegralInRange<int32_t>(-2, 40);
    h.pins = 0;
    h.opened = false;
    h.module_rate = 44100.0f;
    h.model = CaptureModel();
    h.clock = in.ConsumeIntegral<uint32_t>();
}

void Close(AudioHost& h) {
    if (h.audio != nullptr) {
        FUZZ_CHECK(h.audio->dispatcher(h.audio, AUDIO_OP_CLOSE, 0, 0, nullptr, 0.0f) == 1,
                   "AUDIO_OP_CLOSE did not answer 1");
        h.audio = nullptr;
    }
}

void SendEvent(AudioHost& h, int32_t kind, intptr_t target, int32_t value) {
    HostEvent e{};
    e.time_stamp = static_cast<int32_t>(h.clock);
    e.kind = kind;
    e.value = value;
    e.value2 = value;
    e.target = target;
    probe::Begin();
    h.audio->event(h.audio->owner, &e);
    fuzz::CheckQuiet(probe::End(), 0, "an event");
}

void WriteEnum(AudioHost& h, int32_t plug, int16_t v) {
    std::memcpy(h.variables[plug], &v, sizeof v);
    if (plug == PLUG_DISPLAY_TYPE) {
        h.model.SetDisplayType(v);
    } else {
        h.model.SetActive(v);
    }
    if (plug < h.pins) {
        if (plug == PLUG_DISPLAY_TYPE) {
            h.model.DisplayTypeChanged();
        }
        SendEvent(h, EVENT_PIN_STATUS, plug, 1);
    }
}

void WriteInput(AudioHost& h) {
    float* p = h.input_null ? nullptr : h.buffer.data();
    std::memcpy(h.variables[PLUG_AUDIO_IN], &p, sizeof p);
}

float Sample(FuzzedDataProvider& in) {
    // Mostly small codes for short inputs; now and then any 32 bits.
    const uint8_t code = in.ConsumeIntegral<uint8_t>();
    if (code >= 0xF0) {
        const uint32_t bits = in.ConsumeIntegral<uint32_t>();
        float x;
        std::memcpy(&x, &bits, sizeof x);
        return x;
    }
    return (static_cast<int32_t>(code) - 120) / 100.0f;
}

void Process(AudioHost& h, FuzzedDataProvider& in) {
    int32_t count = in.ConsumeIntegralInRange<int32_t>(-1, 4096);
    const int32_t offset = in.ConsumeIntegralInRange<int32_t>(0, 8);
    const size_t length = static_cast<size_t>(offset + std::max(count, 0));
    // The buffer holds exactly the block: a read past it is reported.
    h.buffer.assign(std::max<size_t>(length, 1), 0.0f);
    // A run of samples repeats the last value read, so that long blocks need few bytes.
    float x = 0.0f;
    for (size_t i = static_cast<size_t>(offset); i < length; ++i) {
        if (in.remaining_bytes() > 0 && (i % 16 == 0 || in.ConsumeBool())) {
            x = Sample(in);
        }
        h.buffer[i] = x;
    }
    WriteInput(h);
    if (h.opened) {
        h.model.Process(h.input_null ? nullptr : h.buffer.data() + offset, count, h.expect);
    } else {
        h.expect.Clear();
    }
    h.next_peak = 0;
    h.frame_seen = false;
    h.idle_seen = 0;
    h.in_process = true;
    probe::Begin();
    h.audio->process(h.audio->owner, offset, count);
    fuzz::CheckQuiet(probe::End(), 0, "the process routine");
    h.in_process = false;
    FUZZ_CHECK(h.idle_seen == (h.expect.idle ? 1 : 0), "AUDIO_RQ_IDLE not once per idle block");
    FUZZ_CHECK(h.next_peak == h.expect.peaks.size(), "fewer peak messages than periods");
    FUZZ_CHECK(h.frame_seen == h.expect.frame, "a completed frame was not sent");
    int16_t active;
    std::memcpy(&active, h.variables[PLUG_ACTIVE], sizeof active);
    FUZZ_CHECK(active == h.model.Active(), "Active does not follow HOLD to OFF");
    h.clock += static_cast<uint32_t>(std::max(count, 0));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InstallAllocationHooks();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    AudioHost h;
    g_host = &h;
    Create(h, in);
    int steps = 0;
    while (in.remaining_bytes() > 0 && ++steps < 400) {
        switch (in.ConsumeIntegralInRange<int>(0, 11)) {
        case 0: {
            float rate;
            if (in.ConsumeBool()) {
                rate = static_cast<float>(in.ConsumeIntegralInRange<int32_t>(8000, 384000));
            } else {
                const uint32_t bits = in.ConsumeIntegral<uint32_t>();
                std::memcpy(&rate, &bits, sizeof rate);
            }
            h.audio->dispatcher(h.audio, AUDIO_OP_SET_SAMPLE_RATE, 0, 0, nullptr, rate);
            h.module_rate = rate;
            break;
        }
        case 1:
            h.audio->dispatcher(h.audio, AUDIO_OP_SET_BLOCK_SIZE, 0, in.ConsumeIntegral<int32_t>(),
                                nullptr, 0.0f);
            break;
        case 2:
            if (in.ConsumeBool()) {
                h.pin_count = in.ConsumeIntegralInRange<int32_t>(-2, 40);
            }
            WriteInput(h);
            h.audio->dispatcher(h.audio, AUDIO_OP_OPEN, 0, 0, nullptr, 0.0f);
            h.model.Open(h.module_rate);
            h.opened = true;
            h.pins = h.pin_count > 0 ? std::min(h.pin_count, 3) : 0;
            break;
        case 3:
            Process(h, in);
            break;
        case 4:
            WriteEnum(h, PLUG_DISPLAY_TYPE,
                      in.ConsumeBool() ? in.ConsumeIntegralInRange<int16_t>(-1, 10)
                                       : in.ConsumeIntegral<int16_t>());
            break;
        case 5:
            WriteEnum(h, PLUG_ACTIVE,
                      in.ConsumeBool() ? in.ConsumeIntegralInRange<int16_t>(0, 2)
                                       : in.ConsumeIntegral<int16_t>());
            break;
        case 6:
            h.input_null = in.ConsumeBool();
            WriteInput(h);
            if (h.pins > 0) {
                SendEvent(h, EVENT_PIN_STATUS, PLUG_AUDIO_IN, 1);
            }
            break;
        case 7:
            probe::Begin();
            h.audio->dispatcher(h.audio, AUDIO_OP_GUI_NOTIFY, in.ConsumeIntegral<int32_t>(),
                                in.ConsumeIntegral<int32_t>(), nullptr, 0.0f);
            fuzz::CheckQuiet(probe::End(), 0, "AUDIO_OP_GUI_NOTIFY");
            h.model.GuiNotify();
            break;
        case 8: {
            const int32_t kinds[] = {EVENT_KIND_2, EVENT_RUN_ROUTINE, 1, 6, 20, -1};
            const int32_t kind = kinds[in.ConsumeIntegralInRange<size_t>(0, 5)];
            // A routine event names a routine; a null one is ignored.
            const intptr_t target =
                kind == EVENT_RUN_ROUTINE
                    ? (in.ConsumeBool() ? reinterpret_cast<intptr_t>(&fuzz::Routine) : 0)
                    : in.ConsumeIntegral<int32_t>();
            SendEvent(h, kind, target, in.ConsumeIntegral<int32_t>());
            break;
        }
        case 9:
            // Pin-status events for any pin, existing or not, once there is a pin array.
            if (h.pins > 0) {
                const intptr_t target = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>()
                                                         : in.ConsumeIntegral<int64_t>();
                if (target == PLUG_DISPLAY_TYPE && target < h.pins) {
                    h.model.DisplayTypeChanged();
                }
                SendEvent(h, EVENT_PIN_STATUS, target, in.ConsumeIntegral<int32_t>());
            }
            break;
        case 10: {
            const int32_t ops[] = {4,
                                   5,
                                   9,
                                   11,
                                   14,
                                   100,
                                   -1,
                                   AUDIO_OP_8,
                                   AUDIO_OP_QUERY_PROCESS,
                                   AUDIO_OP_GET_PIN_PROPERTIES};
            const int32_t op = ops[in.ConsumeIntegralInRange<size_t>(0, 9)];
            SEPinProperties record{};
            record.flags = in.ConsumeIntegral<int32_t>() & ~IO_PATCH_STORE;
            const intptr_t answer =
                h.audio->dispatcher(h.audio, op, in.ConsumeIntegral<int32_t>(),
                                    in.ConsumeIntegral<int32_t>(), &record, 0.0f);
            if (op == AUDIO_OP_QUERY_PROCESS) {
                const auto* reply = reinterpret_cast<const ProcessQueryReply*>(answer);
                FUZZ_CHECK(reply != nullptr && reply->selection->routine == h.audio->process,
                           "the process query names another routine");
            } else if (op != AUDIO_OP_GET_PIN_PROPERTIES) {
                FUZZ_CHECK(answer == 0, "an opcode outside the table answered");
            }
            break;
        }
        case 11:
            Close(h);
            Create(h, in);
            break;
        }
    }
    Close(h);
    g_host = nullptr;
    return 0;
}
