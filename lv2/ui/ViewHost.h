// The GUI-side host inside the plug-in's view: it hosts the module's GUI half with the hosting
// library, holds every plug value as the session's control ports carry it, hands the half the
// messages the plug-in sends, passes its plug writes and its "frame read" replies on to the LV2
// host, and paints it into a picture lent to the drawing layer whenever it has asked for a
// redraw. It knows nothing of X11 or of atoms: the view's entry code does the windowing and the
// message decoding. A stereo plug-in's view marks the channel the plug-in displays.
#pragma once

#include "Protocol.h"
#include "ViewSideHost.h"

#include <cstdint>
#include <memory>

namespace lv2ui {

// What the view says to the LV2 host; called from inside the GUI half's requests.
class HostLink {
public:
    virtual ~HostLink() = default;
    // A plug value the GUI half wrote, as the control port's float.
    virtual void WriteControl(uint32_t port, float value) = 0;
    // The GUI half's "frame read" reply, with the value it sent.
    virtual void SendFrameRead(int32_t value) = 0;
};

class ViewHost : private sehost::ViewSideHost::Owner {
public:
    static constexpr int32_t kMaxSide = sehost::ViewSideHost::kMaxSide;
    // What the host clears the picture to before each paint.
    static constexpr uint32_t kHostBackground = 0xFF000000u;

    // Makes the GUI half and a picture of width x height, for the ports of the mono or the stereo
    // plug-in. Throws HostError when the module refuses or the size is unusable.
    ViewHost(const sehost::ModuleLibrary& library, HostLink& link, int32_t width, int32_t height,
             bool stereo = false);

    const lv2proto::PortLayout& Ports() const { return m_ports; }
    // The value held for a plug (raw bits, see PlugTable.h).
    uint32_t PlugValue(int32_t plug) const { return m_state.values.at(static_cast<size_t>(plug)); }

    // A control port's value from the host, held to the port's range. Before Open it only sets
    // what the GUI half will read; afterwards a change is announced to the half. The stereo
    // plug-in's "Channel" changes the mark. Unknown ports and NaN are ignored.
    void ControlChanged(uint32_t port, float value);
    // Initialises the GUI half with the values held now and sends the first "frame read", so
    // that a capture waiting for a reply starts again. Only the first call does anything.
    void Open();
    bool IsOpen() const { return m_view->IsOpen(); }

    // The two display messages, as the audio half sent them; ignored before Open.
    void ReceiveFrame(const uint8_t* bytes, int32_t count);
    void ReceivePeak(int32_t value);

    // Follows a new window size; false (and the old size kept) when it is not usable.
    bool Resize(int32_t width, int32_t height) { return m_view->Resize(width, height); }
    int32_t Width() const { return m_view->Canvas().Width(); }
    int32_t Height() const { return m_view->Canvas().Height(); }

    // The GUI half asked for a redraw (or the picture is new) since the last paint.
    bool NeedsPaint() const { return m_view->NeedsPaint() || m_relabel; }
    // Paints the view into the picture and returns it. Allocates nothing of its own.
    cairo_surface_t* Paint();
    int64_t PaintCount() const { return m_view->PaintCount(); }

private:
    void PlugWritten(const sehost::PlugInfo& plug) override;
    void NotifyAudio(int32_t index, int32_t value, const void* data) override;

    sehost::PlugValues m_state;
    lv2proto::PortLayout m_ports;
    HostLink& m_link;
    std::unique_ptr<sehost::ViewSideHost> m_view;
    lv2proto::ChannelControl m_channel;
    bool m_relabel = false;
};

} // namespace lv2ui
