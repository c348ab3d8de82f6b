#include "ViewHost.h"

#include "HostError.h"

#include <cstring>

namespace lv2ui {

namespace {

intptr_t IgnoreRequest(void*, int32_t, int32_t, int32_t, void*, float) {
    return 0;
}

} // namespace

std::vector<sehost::PlugInfo> ReadPlugTable(const sehost::ModuleLibrary& library) {
    auto* audio = static_cast<AudioPlugRecord*>(
        library.MakeModule()(0, MODULE_TYPE_AUDIO, &IgnoreRequest, 0));
    if (audio == nullptr || audio->magic != AUDIO_PLUG_MAGIC || audio->dispatcher == nullptr) {
        throw sehost::HostError(library.Path() + " made no audio side to read the plugs from");
    }
    std::vector<sehost::PlugInfo> plugs;
    try {
        plugs = sehost::DiscoverPlugs(audio);
    } catch (...) {
        audio->dispatcher(audio, AUDIO_OP_CLOSE, 0, 0, nullptr, 0.0f);
        throw;
    }
    audio->dispatcher(audio, AUDIO_OP_CLOSE, 0, 0, nullptr, 0.0f);
    // Its variables went with it.
    for (sehost::PlugInfo& plug : plugs) {
        plug.variable = nullptr;
    }
    return plugs;
}

ViewHost::ViewHost(const sehost::ModuleLibrary& library, HostLink& link, int32_t width,
                   int32_t height)
    : m_link(link) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        throw sehost::HostError("the view must be 1 to 8192 pixels wide and high");
    }
    m_plugs = ReadPlugTable(library);
    m_ports = lv2proto::LayoutPorts(m_plugs);
    m_values.resize(m_plugs.size());
    m_changed.assign(m_plugs.size(), 0);
    for (const sehost::PlugInfo& plug : m_plugs) {
        m_values[plug.index] = sehost::InitialValue(plug);
    }
    m_canvas = std::make_unique<sehost::ViewCanvas>(width, height);
    m_canvas->Clear(kHostBackground);
    m_size[0] = width;
    m_size[1] = height;
    m_view = static_cast<GuiPlugRecord*>(
        library.MakeModule()(0, MODULE_TYPE_GUI, &CallbackEntry, reinterpret_cast<intptr_t>(this)));
    if (m_view == nullptr || m_view->magic != GUI_PLUG_MAGIC || m_view->dispatcher == nullptr) {
        m_view = nullptr;
        throw sehost::HostError(library.Path() + " made no usable view");
    }
}

ViewHost::~ViewHost() {
    if (m_view != nullptr) {
        CallView(GUI_OP_CLOSE);
        m_view = nullptr;
    }
}

intptr_t ViewHost::CallbackEntry(void* plug, int32_t opcode, int32_t index, int32_t value,
                                 void* ptr, float opt) {
    if (plug == nullptr) {
        return 0;
    }
    auto* self = reinterpret_cast<ViewHost*>(static_cast<GuiPlugRecord*>(plug)->hostData);
    if (self == nullptr) {
        return 0;
    }
    try { // nothing may unwind into the module
        return self->Request(opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

intptr_t ViewHost::Request(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    const bool known = index >= 0 && static_cast<size_t>(index) < m_plugs.size();
    switch (opcode) {
    case GUI_RQ_INVALIDATE:
        m_invalid = true;
        return 0;
    case GUI_RQ_NOTIFY_AUDIO:
        m_link.SendFrameRead(value);
        return 0;
    case GUI_RQ_GET_PIN_VALUE: {
        if (ptr == nullptr) {
            return 0;
        }
        const uint32_t bits = known ? m_values[index] : 0;
        std::memcpy(ptr, &bits, sizeof bits);
        return known ? 1 : 0;
    }
    case GUI_RQ_SET_PIN_VALUE: {
        if (!known || m_plugs[index].datatype == PIN_TYPE_AUDIO) {
            return 0;
        }
        const sehost::PlugInfo& plug = m_plugs[index];
        const uint32_t bits = sehost::WrittenBits(plug, value, opt);
        if (m_values[index] != bits) {
            Store(index, bits);
            // The host keeps the value with the session; the control port is how it learns it.
            for (const lv2proto::ControlPort& control : m_ports.controls) {
                if (control.plug == index) {
                    m_link.WriteControl(control.port, lv2proto::BitsPortValue(plug, bits));
                }
            }
        }
        return 1;
    }
    default: // the size and close requests (3, 4, 22) and anything unknown
        return 0;
    }
}

intptr_t ViewHost::CallView(int32_t opcode, int32_t index, int32_t value, void* ptr) {
    ++m_depth;
    const intptr_t result = m_view->dispatcher(m_view, opcode, index, value, ptr, 0.0f);
    --m_depth;
    return result;
}

void ViewHost::Store(int32_t plug, uint32_t bits) {
    m_values[plug] = bits;
    m_changed[plug] = 1;
}

void ViewHost::DeliverChanges() {
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
                CallView(GUI_OP_PIN_CHANGED, static_cast<int32_t>(i));
            }
        }
    }
}

void ViewHost::ControlChanged(uint32_t port, float value) {
    const lv2proto::ControlPort* control = m_ports.Control(port);
    if (control == nullptr) {
        return;
    }
    const sehost::PlugInfo& plug = m_plugs[control->plug];
    const std::optional<uint32_t> bits = lv2proto::PortValueBits(plug, control->range, value);
    if (!bits || *bits == m_values[plug.index]) {
        return;
    }
    m_values[plug.index] = *bits;
    if (plug.gui_side) {
        m_changed[plug.index] = 1;
        DeliverChanges();
    }
}

void ViewHost::Open() {
    if (m_open) {
        return;
    }
    m_open = true;
    // What the half finds at its start needs no announcing.
    std::fill(m_changed.begin(), m_changed.end(), 0);
    CallView(GUI_OP_INITIALISE, 0);
    DeliverChanges();
    m_link.SendFrameRead(-1);
}

void ViewHost::ReceiveFrame(const uint8_t* bytes, int32_t count) {
    if (!m_open || bytes == nullptr || count < 0) {
        return;
    }
    // The half only reads the bytes; the pointer is the sender's, as with every host.
    CallView(GUI_OP_RECEIVE, count, 0, const_cast<uint8_t*>(bytes));
    DeliverChanges();
}

void ViewHost::ReceivePeak(int32_t value) {
    if (!m_open) {
        return;
    }
    CallView(GUI_OP_RECEIVE, 0, value, nullptr);
    DeliverChanges();
}

bool ViewHost::Resize(int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        return false;
    }
    if (width == m_size[0] && height == m_size[1]) {
        return true;
    }
    try {
        auto canvas = std::make_unique<sehost::ViewCanvas>(width, height);
        m_canvas = std::move(canvas);
    } catch (const sehost::HostError&) {
        return false;
    }
    m_size[0] = width;
    m_size[1] = height;
    m_invalid = true;
    return true;
}

cairo_surface_t* ViewHost::Paint() {
    m_canvas->Clear(kHostBackground);
    m_invalid = false;
    if (m_open) {
        const int32_t dc = m_canvas->Lend();
        CallView(GUI_OP_PAINT, dc, 0, m_size);
        m_canvas->Return();
        ++m_paints;
        DeliverChanges();
    }
    return m_canvas->Cairo();
}

} // namespace lv2ui
