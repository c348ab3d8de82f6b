// The audio side of the module opened by a bare host that answers every request at once: what
// the capture benchmarks run, with the signal they play.
#pragma once

#include "se_types.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" void* makeModule(int32_t index, int32_t type, HostCallback callback,
                            intptr_t host_argument);

namespace capture_bench {

inline int32_t g_clock = 0;
inline int64_t g_messages = 0;

inline intptr_t BenchHost(void*, int32_t opcode, int32_t, int32_t, void*, float) {
    switch (opcode) {
    case AUDIO_RQ_PIN_COUNT:
        return 3;
    case AUDIO_RQ_SAMPLE_CLOCK:
        return g_clock;
    case AUDIO_RQ_SEND_TO_GUI:
        ++g_messages;
        return 0;
    default:
        return 0;
    }
}

enum Mode : int { MODE_SAMPLE_SYNC, MODE_SAMPLE, MODE_PEAK_1MS, MODE_PEAK_200MS, MODE_OFF };

// One opened audio object with its plug variables, set to a mode.
class Instance {
public:
    explicit Instance(Mode mode) {
        m_plug = static_cast<AudioPlugRecord*>(makeModule(0, MODULE_TYPE_AUDIO, &BenchHost, 0));
        m_plug->dispatcher(m_plug, AUDIO_OP_SET_SAMPLE_RATE, 0, 0, nullptr, 44100.0f);
        m_input = static_cast<float**>(Variable(0));
        int16_t* display_type = static_cast<int16_t*>(Variable(1));
        int16_t* active = static_cast<int16_t*>(Variable(2));
        m_plug->dispatcher(m_plug, AUDIO_OP_OPEN, 0, 0, nullptr, 0.0f);
        switch (mode) {
        case MODE_SAMPLE_SYNC:
            *display_type = -1;
            break;
        case MODE_SAMPLE:
        case MODE_OFF:
            *display_type = 0;
            break;
        case MODE_PEAK_1MS:
            *display_type = 1;
            break;
        case MODE_PEAK_200MS:
            *display_type = 10;
            break;
        }
        *active = mode == MODE_OFF ? 0 : 1;
        HostEvent event{g_clock, EVENT_PIN_STATUS, 2, 0, 1};
        m_plug->event(m_plug->owner, &event);
    }
    ~Instance() { m_plug->dispatcher(m_plug, AUDIO_OP_CLOSE, 0, 0, nullptr, 0.0f); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    void Block(float* samples, int32_t count) {
        *m_input = samples;
        m_plug->process(m_plug->owner, 0, count);
    }
    void GuiNotify() { m_plug->dispatcher(m_plug, AUDIO_OP_GUI_NOTIFY, 0, -1, nullptr, 0.0f); }

private:
    void* Variable(int32_t plug) {
        SEPinProperties record;
        std::memset(&record, 0, sizeof(record));
        m_plug->dispatcher(m_plug, AUDIO_OP_GET_PIN_PROPERTIES, plug, 0, &record, 0.0f);
        return record.variable;
    }

    AudioPlugRecord* m_plug;
    float** m_input;
};

// A signal that crosses zero upward every 100 samples, so that Sample Sync triggers soon.
inline std::vector<float> Signal(size_t n) {
    std::vector<float> samples(n);
    for (size_t i = 0; i < n; ++i) {
        samples[i] = 0.8f * std::sin(static_cast<float>(i) * 0.0628318f) +
                     0.05f * std::sin(static_cast<float>(i) * 1.7f);
    }
    return samples;
}

// Plays the signal through the mode state.range(0) in blocks of state.range(1) samples.
inline void CaptureBlocks(benchmark::State& state) {
    const Mode mode = static_cast<Mode>(state.range(0));
    const int32_t block = static_cast<int32_t>(state.range(1));
    // Several blocks of signal in turn, so that the data are not one block over and over.
    const size_t blocks = 64;
    std::vector<float> signal = Signal(static_cast<size_t>(block) * blocks);
    Instance instance(mode);
    g_messages = 0;
    size_t next = 0;
    const bool sample_mode = mode == MODE_SAMPLE_SYNC || mode == MODE_SAMPLE;
    int64_t answered = 0;
    for (auto _ : state) {
        instance.Block(signal.data() + next * static_cast<size_t>(block), block);
        if (sample_mode && g_messages != answered) {
            instance.GuiNotify(); // the GUI side answers each frame at once
            answered = g_messages;
        }
        next = next + 1 == blocks ? 0 : next + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * block);
    state.counters["messages"] =
        benchmark::Counter(static_cast<double>(g_messages), benchmark::Counter::kAvgIterations);
}

} // namespace capture_bench
