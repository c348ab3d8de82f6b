#include "FakeHost.h"

extern "C" void* makeModule(int32_t index, int32_t type, HostCallback callback,
                            intptr_t host_argument);

namespace {
FakeHost* g_current = nullptr;
}

FakeHost::FakeHost() : m_previous(g_current) {
    m_requests.reserve(1 << 16);
    g_current = this;
}

FakeHost::~FakeHost() {
    g_current = m_previous;
}

HostCallback FakeHost::Callback() {
    return &FakeHost::Record;
}

intptr_t FakeHost::Record(void* plug, int32_t opcode, int32_t index, int32_t value, void* ptr,
                          float opt) {
    FakeHost* host = g_current;
    if (host == nullptr) {
        return 0;
    }
    HostRequest request{plug, opcode, index, value, ptr, opt};
    host->m_requests.push_back(request);
    return host->m_answer ? host->m_answer(request) : 0;
}

std::vector<HostRequest> FakeHost::RequestsWithOpcode(int32_t opcode) const {
    std::vector<HostRequest> found;
    for (const HostRequest& request : m_requests) {
        if (request.opcode == opcode) {
            found.push_back(request);
        }
    }
    return found;
}

AudioPlugRecord* FakeHost::MakeAudio(intptr_t host_argument) {
    return static_cast<AudioPlugRecord*>(
        makeModule(0, MODULE_TYPE_AUDIO, Callback(), host_argument));
}

GuiPlugRecord* FakeHost::MakeGui(intptr_t host_argument) {
    return static_cast<GuiPlugRecord*>(makeModule(0, MODULE_TYPE_GUI, Callback(), host_argument));
}

intptr_t FakeHost::Dispatch(AudioPlugRecord* plug, int32_t opcode, int32_t index, int32_t value,
                            void* ptr, float opt) {
    return plug->dispatcher(plug, opcode, index, value, ptr, opt);
}

intptr_t FakeHost::Dispatch(GuiPlugRecord* plug, int32_t opcode, int32_t index, int32_t value,
                            void* ptr, float opt) {
    return plug->dispatcher(plug, opcode, index, value, ptr, opt);
}

void FakeHost::Process(AudioPlugRecord* plug, int32_t offset, int32_t count) {
    plug->process(plug->owner, offset, count);
}

void FakeHost::SendEvent(AudioPlugRecord* plug, const HostEvent& event) {
    plug->event(plug->owner, &event);
}
