// Helpers for the audio-side tests: a rig that plays the host for one audio object through its
// plug record only (FakeHost records every request), and a module that reports which of its
// virtual operations ran.
#pragma once

#include "FakeHost.h"
#include "Module.h"
#include "SEModule_base.h"
#include "plugs.h"
#include "se_types.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <algorithm>
#include <vector>

// A page that faults on every read: an input buffer that must not be looked at.
class ForbiddenPage {
public:
    ForbiddenPage() {
        m_size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        m_page = mmap(nullptr, m_size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    ~ForbiddenPage() { munmap(m_page, m_size); }
    ForbiddenPage(const ForbiddenPage&) = delete;
    ForbiddenPage& operator=(const ForbiddenPage&) = delete;
    float* Samples() const { return static_cast<float*>(m_page); }

private:
    void* m_page;
    size_t m_size;
};

// A request as a host must see it: the caller's own record, every argument, and an option of 0.0,
// which the audio side always sends.
inline void ExpectRequest(const HostRequest& request, const void* plug, int32_t opcode,
                          int32_t index, int32_t value, const void* ptr) {
    EXPECT_EQ(request.plug, plug);
    EXPECT_EQ(request.opcode, opcode);
    EXPECT_EQ(request.index, index);
    EXPECT_EQ(request.value, value);
    EXPECT_EQ(request.ptr, ptr);
    EXPECT_EQ(request.opt, 0.0f);
}

// The full line that a failed host-contract check of SEModule_base writes.
inline std::string ContractLine(const std::string& expression, int line) {
    return "Assertion failed: " + expression + ", file ..\\se_sdk2\\SEModule_base, line " +
           std::to_string(line);
}

// Matches a death test's standard error when one of its lines is exactly `line`.
class ExactLineMatcher : public testing::MatcherInterface<const std::string&> {
public:
    explicit ExactLineMatcher(std::string line) : m_line(std::move(line)) {}
    bool MatchAndExplain(const std::string& text,
                         testing::MatchResultListener* listener) const override {
        std::istringstream lines(text);
        std::string current;
        while (std::getline(lines, current)) {
            if (current == m_line) {
                return true;
            }
        }
        *listener << "standard error was:\n" << text;
        return false;
    }
    void DescribeTo(std::ostream* os) const override { *os << "has the line \"" << m_line << '"'; }

private:
    std::string m_line;
};

inline testing::Matcher<const std::string&> HasExactLine(const std::string& line) {
    return testing::MakeMatcher(new ExactLineMatcher(line));
}

// Plays the host for one audio object made through makeModule, or for one made by the test.
class AudioRig {
public:
    AudioRig() {
        m_host.SetAnswer([this](const HostRequest& request) -> intptr_t {
            switch (request.opcode) {
            case AUDIO_RQ_PIN_COUNT:
                return pin_count;
            case AUDIO_RQ_SAMPLE_CLOCK:
                return clock;
            case AUDIO_RQ_PIN_BUFFER:
                return pin_buffer + request.index;
            default:
                return 0;
            }
        });
    }
    ~AudioRig() {
        if (plug != nullptr) {
            FakeHost::Dispatch(plug, AUDIO_OP_CLOSE);
        }
    }
    AudioRig(const AudioRig&) = delete;
    AudioRig& operator=(const AudioRig&) = delete;

    // Makes a Module through makeModule, sets the rate, learns its plug variables and opens it.
    void MakeOpen(float sample_rate = 44100.0f) {
        Adopt(m_host.MakeAudio(77));
        FakeHost::Dispatch(plug, AUDIO_OP_SET_SAMPLE_RATE, 0, 0, nullptr, sample_rate);
        LearnVariables();
        FakeHost::Dispatch(plug, AUDIO_OP_OPEN);
        m_host.Clear();
    }

    // Takes an object made elsewhere (for instance a test's own derived class).
    void Adopt(AudioPlugRecord* record) { plug = record; }

    // The host learns the addresses of the audio-side plug variables from the plug table.
    void LearnVariables() {
        SEPinProperties record;
        std::memset(&record, 0, sizeof(record));
        FakeHost::Dispatch(plug, AUDIO_OP_GET_PIN_PROPERTIES, PLUG_AUDIO_IN, 0, &record);
        input = static_cast<float**>(record.variable);
        std::memset(&record, 0, sizeof(record));
        FakeHost::Dispatch(plug, AUDIO_OP_GET_PIN_PROPERTIES, PLUG_DISPLAY_TYPE, 0, &record);
        display_type = static_cast<int16_t*>(record.variable);
        std::memset(&record, 0, sizeof(record));
        FakeHost::Dispatch(plug, AUDIO_OP_GET_PIN_PROPERTIES, PLUG_ACTIVE, 0, &record);
        active = static_cast<int16_t*>(record.variable);
    }

    SEModule_base* Object() const { return static_cast<SEModule_base*>(plug->owner); }

    // A pin-status event stamped with the host's clock.
    void PinEvent(intptr_t pin, int32_t status = 2) {
        HostEvent event{clock, EVENT_PIN_STATUS, status, 0, pin};
        FakeHost::SendEvent(plug, event);
    }
    // Writes "Display Type" and announces the change, as a host does.
    void SetDisplayType(int16_t type) {
        *display_type = type;
        PinEvent(PLUG_DISPLAY_TYPE);
    }
    void SetActive(int16_t state) { *active = state; }

    // One block: the host points "Audio_In" at the samples and calls the process routine.
    void Process(const float* samples, int32_t count, int32_t offset = 0) {
        *input = const_cast<float*>(samples);
        FakeHost::Process(plug, offset, count);
        clock += count;
    }
    void Process(const std::vector<float>& samples) {
        Process(samples.data(), static_cast<int32_t>(samples.size()));
    }
    // Plays samples in blocks of the given size.
    void Play(const std::vector<float>& samples, int32_t block) {
        for (size_t start = 0; start < samples.size(); start += static_cast<size_t>(block)) {
            const size_t n = std::min(samples.size() - start, static_cast<size_t>(block));
            Process(samples.data() + start, static_cast<int32_t>(n));
        }
    }
    void GuiNotify() { FakeHost::Dispatch(plug, AUDIO_OP_GUI_NOTIFY, 0, -1, nullptr); }

    std::vector<HostRequest> Messages() const {
        return m_host.RequestsWithOpcode(AUDIO_RQ_SEND_TO_GUI);
    }
    // The bytes of a frame message, copied out of the object's buffer at the time of the call.
    static std::vector<uint8_t> FrameBytes(const HostRequest& message) {
        const uint8_t* bytes = static_cast<const uint8_t*>(message.ptr);
        return std::vector<uint8_t>(bytes, bytes + message.index);
    }

    FakeHost& Host() { return m_host; }
    const std::vector<HostRequest>& Requests() const { return m_host.Requests(); }

    int32_t pin_count = 3;
    int32_t clock = 0;
    intptr_t pin_buffer = 0x1000;
    AudioPlugRecord* plug = nullptr;
    float** input = nullptr;
    int16_t* display_type = nullptr;
    int16_t* active = nullptr;

private:
    FakeHost m_host;
};

// A Module that also reports which overridden operations ran, for the tests that must see calls
// that leave no trace at the host (plug queries, status notifications).
class LoggingModule : public Module {
public:
    using Module::Module;
    bool GetPinProperties(int32_t index, SEPinProperties* properties) override {
        queries.push_back(index);
        return Module::GetPinProperties(index, properties);
    }
    void OnPlugStateChange(SEPin* pin) override {
        state_changes.push_back(pin->Index());
        statuses.push_back(pin->Status());
        Module::OnPlugStateChange(pin);
    }
    std::vector<int32_t> queries;
    std::vector<int32_t> state_changes;
    std::vector<int32_t> statuses;
};

// Samples helpers.
inline std::vector<float> Constant(size_t n, float value) {
    return std::vector<float>(n, value);
}
inline std::vector<float> Ramp(size_t n, float start, float step) {
    std::vector<float> samples(n);
    for (size_t i = 0; i < n; ++i) {
        samples[i] = start + step * static_cast<float>(i);
    }
    return samples;
}
