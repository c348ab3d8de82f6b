#include "ViewHost.h"

#include "AudioSideHost.h"
#include "ChannelLabel.h"

namespace lv2ui {

ViewHost::ViewHost(const sehost::ModuleLibrary& library, HostLink& link, int32_t width,
                   int32_t height, bool stereo)
    : m_link(link) {
    m_state.Reset(sehost::ReadPlugTable(library));
    m_ports = lv2proto::LayoutPorts(m_state.plugs, stereo);
    m_view = std::make_unique<sehost::ViewSideHost>(
        library, m_state, static_cast<sehost::ViewSideHost::Owner&>(*this), width, height,
        kHostBackground);
}

void ViewHost::PlugWritten(const sehost::PlugInfo& plug) {
    m_view->Announce(plug.index);
    // The host keeps the value with the session; the control port is how it learns it.
    for (const lv2proto::ControlPort& control : m_ports.controls) {
        if (control.plug == plug.index) {
            m_link.WriteControl(control.port,
                                lv2proto::BitsPortValue(plug, m_state.values[plug.index]));
        }
    }
}

void ViewHost::NotifyAudio(int32_t, int32_t value, const void*) {
    m_link.SendFrameRead(value);
}

void ViewHost::ControlChanged(uint32_t port, float value) {
    if (m_ports.stereo && port == m_ports.stereo_ports.channel) {
        m_relabel = m_channel.Take(value) || m_relabel;
        return;
    }
    const lv2proto::ControlPort* control = m_ports.Control(port);
    if (control == nullptr) {
        return;
    }
    const sehost::PlugInfo& plug = m_state.plugs[control->plug];
    const std::optional<uint32_t> bits = lv2proto::PortValueBits(plug, control->range, value);
    if (!bits || *bits == m_state.values[plug.index]) {
        return;
    }
    m_state.values[plug.index] = *bits;
    if (plug.gui_side) {
        m_view->Announce(plug.index);
    }
}

void ViewHost::Open() {
    if (m_view->IsOpen()) {
        return;
    }
    m_view->Open();
    m_link.SendFrameRead(-1);
}

void ViewHost::ReceiveFrame(const uint8_t* bytes, int32_t count) {
    if (!m_view->IsOpen() || bytes == nullptr || count < 0) {
        return;
    }
    // The half only reads the bytes; the pointer is the sender's, as with every host.
    m_view->Receive(count, 0, const_cast<uint8_t*>(bytes));
}

void ViewHost::ReceivePeak(int32_t value) {
    if (m_view->IsOpen()) {
        m_view->Receive(0, value, nullptr);
    }
}

cairo_surface_t* ViewHost::Paint() {
    m_view->Paint();
    cairo_surface_t* picture = m_view->Canvas().Cairo();
    if (m_ports.stereo) {
        DrawChannelLabel(picture, m_channel.Channel());
        m_relabel = false;
    }
    return picture;
}

} // namespace lv2ui
