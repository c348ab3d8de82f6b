// Plays the host for a module's view: makes it, answers its reads and writes of plug values
// from the values the host holds, follows its redraw requests, and paints it into a picture lent
// for the span of the paint. Plug changes are announced to it only once no call into it is under
// way, so that it is never re-entered. What its writes and its notes to the audio side become is
// the business of the host that owns it, told through Owner.
#pragma once

#include "ModuleLibrary.h"
#include "PlugTable.h"
#include "ViewCanvas.h"
#include "se_types.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sehost {

class ViewSideHost {
public:
    static constexpr int32_t kMaxSide = 8192;

    class Owner {
    public:
        virtual ~Owner() = default;
        // The view wrote a plug with a new value, already held in the state.
        virtual void PlugWritten(const PlugInfo& plug) = 0;
        // A note for the audio side (GUI_RQ_NOTIFY_AUDIO): data, when not null, holds index
        // bytes and is the view's own, valid only during the call.
        virtual void NotifyAudio(int32_t index, int32_t value, const void* data) = 0;
        // The view asked for a redraw.
        virtual void Invalidated() {}
    };

    // Makes the view and a picture of width x height cleared to background, the colour the host
    // clears it to before each paint. Throws HostError when the module refuses or the size is
    // unusable.
    ViewSideHost(const ModuleLibrary& library, PlugValues& state, Owner& owner, int32_t width,
                 int32_t height, uint32_t background);
    ~ViewSideHost(); // closes the view
    ViewSideHost(const ViewSideHost&) = delete;
    ViewSideHost& operator=(const ViewSideHost&) = delete;

    // Initialises the view with the values held now; what it finds then needs no announcing.
    // Only the first call does anything.
    void Open();
    bool IsOpen() const { return m_open; }
    // Announces a plug's change to the view, once no call into it is under way (at once when
    // none is), and before that not at all: a view not yet open reads the value at its start.
    void Announce(int32_t plug);
    // Hands the view a display message (GUI_OP_RECEIVE), then the changes it made meanwhile.
    void Receive(int32_t index, int32_t value, void* data);
    // A call into the view is under way.
    bool InCall() const { return m_depth > 0; }

    // Follows a new size; false (and the old size kept) when it is not usable.
    bool Resize(int32_t width, int32_t height);
    // The view asked for a redraw (or the picture is new) since the last paint.
    bool NeedsPaint() const { return m_invalid; }
    // Clears the picture and, once the view is open, paints the view into it. Allocates nothing
    // of its own.
    void Paint();
    const ViewCanvas& Canvas() const { return *m_canvas; }
    int64_t PaintCount() const { return m_paints; }

private:
    static intptr_t Entry(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                          float opt);
    intptr_t Request(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    intptr_t Call(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr);
    void DeliverChanges();

    PlugValues& m_state;
    Owner& m_owner;
    GuiPlugRecord* m_view = nullptr;
    std::vector<uint8_t> m_changed; // per plug: to be announced
    int32_t m_depth = 0;
    bool m_open = false;
    bool m_invalid = true;
    uint32_t m_background;
    std::unique_ptr<ViewCanvas> m_canvas;
    int32_t m_size[2] = {0, 0};
    int64_t m_paints = 0;
};

} // namespace sehost
