// What reaches the view through the LV2 host's port events, and the one message it sends back:
// control values as floats, display messages as atoms on the notify port, the "frame read"
// reply as an atom for the control port. Kept apart from the window so that it runs without one.
#pragma once

#include "ViewHost.h" // and the LV2 headers, through Protocol.h

#include <cstdint>

namespace lv2ui {

using lv2proto::MapMessageUrids;
using lv2proto::MessageUrids;

// Hands one port event to the view's host: a float for a control port (format 0), or a Frame or
// Peak atom on the notify port. Anything else, a body that runs past the buffer or a peak that is
// not one int32 among them, is ignored.
void DeliverPortEvent(ViewHost& host, const MessageUrids& urids, uint32_t port, uint32_t size,
                      uint32_t format, const void* buffer);

// The "frame read" reply as written to the control port with the eventTransfer format.
struct FrameReadAtom {
    LV2_Atom atom;
    int32_t body;
};

inline FrameReadAtom MakeFrameRead(const MessageUrids& urids, int32_t value) {
    return FrameReadAtom{{sizeof(int32_t), urids.frame_read}, value};
}

} // namespace lv2ui
