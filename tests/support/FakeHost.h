// A recording host for unit tests: it creates module objects through makeModule, remembers every
// request they send with its arguments in order, and answers through a rule that a test sets.
#pragma once

#include "se_types.h"

#include <cstdint>
#include <functional>
#include <vector>

struct HostRequest {
    void* plug;
    int32_t opcode;
    int32_t index;
    int32_t value;
    void* ptr;
    float opt;
};

class FakeHost {
public:
    using Answer = std::function<intptr_t(const HostRequest&)>;

    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // The callback to hand to makeModule; it records into the most recently made FakeHost.
    static HostCallback Callback();

    // Answers every request; the default answers 0.
    void SetAnswer(Answer answer) { m_answer = std::move(answer); }

    // Requests reserved before recording, so that recording itself allocates nothing.
    const std::vector<HostRequest>& Requests() const { return m_requests; }
    std::vector<HostRequest> RequestsWithOpcode(int32_t opcode) const;
    void Clear() { m_requests.clear(); }

    AudioPlugRecord* MakeAudio(intptr_t host_argument = 0);
    GuiPlugRecord* MakeGui(intptr_t host_argument = 0);

    // Through the record's entries only, as a host would.
    static intptr_t Dispatch(AudioPlugRecord* plug, int32_t opcode, int32_t index = 0,
                             int32_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    static intptr_t Dispatch(GuiPlugRecord* plug, int32_t opcode, int32_t index = 0,
                             int32_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    static void Process(AudioPlugRecord* plug, int32_t offset, int32_t count);
    static void SendEvent(AudioPlugRecord* plug, const HostEvent& event);

private:
    static intptr_t Record(void* plug, int32_t opcode, int32_t index, int32_t value, void* ptr,
                           float opt);
    std::vector<HostRequest> m_requests;
    Answer m_answer;
    FakeHost* m_previous;
};
