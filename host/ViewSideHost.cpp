#include "ViewSideHost.h"

#include "HostError.h"

#include <algorithm>

namespace sehost {

ViewSideHost::ViewSideHost(const ModuleLibrary& library, PlugValues& state, Owner& owner,
                           int32_t width, int32_t height, uint32_t background)
    : m_state(state), m_owner(owner), m_changed(state.plugs.size(), 0), m_background(background) {
    if (!Resize(width, height)) {
        throw HostError("the view must be 1 to 8192 pixels wide and high");
    }
    m_canvas->Clear(m_background);
    auto* view = static_cast<GuiPlugRecord*>(
        library.MakeModule()(0, MODULE_TYPE_GUI, &Entry, reinterpret_cast<intptr_t>(this)));
    if (view == nullptr || view->magic != GUI_PLUG_MAGIC || view->dispatcher == nullptr) {
        throw HostError(library.Path() + " made no usable view");
    }
    m_view = view;
}

ViewSideHost::~ViewSideHost() {
    Call(GUI_OP_CLOSE);
}

intptr_t ViewSideHost::Call(int32_t opcode, int32_t index, int32_t value, void* ptr) {
    ++m_depth;
    const intptr_t result = m_view->dispatcher(m_view, opcode, index, value, ptr, 0.0f);
    --m_depth;
    return result;
}

intptr_t ViewSideHost::Entry(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                             float opt) {
    auto* self = HostOfRecord<ViewSideHost, GuiPlugRecord>(record, GUI_PLUG_MAGIC);
    try { // nothing may unwind into the module
        return self != nullptr ? self->Request(opcode, index, value, ptr, opt) : 0;
    } catch (...) {
        return 0;
    }
}

intptr_t ViewSideHost::Request(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    switch (opcode) {
    case GUI_RQ_INVALIDATE:
        m_invalid = true;
        m_owner.Invalidated();
        return 0;
    case GUI_RQ_NOTIFY_AUDIO:
        m_owner.NotifyAudio(index, value, ptr);
        return 0;
    case GUI_RQ_GET_PIN_VALUE:
    case GUI_RQ_SET_PIN_VALUE: {
        bool changed = false;
        const intptr_t answer = AnswerPlugRequest(m_state.plugs, m_state.values.data(), opcode,
                                                  index, value, ptr, opt, changed);
        if (changed) {
            m_owner.PlugWritten(m_state.plugs[index]);
        }
        return answer;
    }
    default: // the size and close requests (GUI_RQ_3, 4, 22) and anything unknown
        return 0;
    }
}

void ViewSideHost::Open() {
    if (m_open) {
        return;
    }
    m_open = true;
    std::fill(m_changed.begin(), m_changed.end(), 0);
    Call(GUI_OP_INITIALISE, 0);
    DeliverChanges();
}

void ViewSideHost::Announce(int32_t plug) {
    m_changed[static_cast<size_t>(plug)] = 1;
    DeliverChanges();
}

void ViewSideHost::Receive(int32_t index, int32_t value, void* data) {
    Call(GUI_OP_RECEIVE, index, value, data);
    DeliverChanges();
}

void ViewSideHost::DeliverChanges() {
    if (m_depth > 0 || !m_open) {
        return;
    }
    // An announcement may write other plugs; go round until nothing is left.
    for (bool again = true; again;) {
        again = false;
        for (size_t i = 0; i < m_changed.size(); ++i) {
            if (m_changed[i] != 0) {
                m_changed[i] = 0;
                again = true;
                Call(GUI_OP_PIN_CHANGED, static_cast<int32_t>(i));
            }
        }
    }
}

bool ViewSideHost::Resize(int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        return false;
    }
    if (width == m_size[0] && height == m_size[1]) {
        return true;
    }
    try {
        m_canvas = std::make_unique<ViewCanvas>(width, height);
    } catch (const HostError&) {
        return false;
    }
    m_size[0] = width;
    m_size[1] = height;
    m_invalid = true;
    return true;
}

void ViewSideHost::Paint() {
    m_canvas->Clear(m_background);
    m_invalid = false;
    if (!m_open) {
        return;
    }
    const int32_t dc = m_canvas->Lend();
    Call(GUI_OP_PAINT, dc, 0, m_size);
    m_canvas->Return();
    ++m_paints;
    DeliverChanges();
}

} // namespace sehost
