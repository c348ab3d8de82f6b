#include "PortEvents.h"

#include "Protocol.h"

#include <cstring>

namespace lv2ui {

void DeliverPortEvent(ViewHost& host, const MessageUrids& urids, uint32_t port, uint32_t size,
                      uint32_t format, const void* buffer) {
    if (buffer == nullptr) {
        return;
    }
    if (format == 0) {
        if (size == sizeof(float)) {
            float value;
            std::memcpy(&value, buffer, sizeof value);
            host.ControlChanged(port, value);
        }
        return;
    }
    if (format != urids.event_transfer || port != lv2proto::kPortNotify ||
        size < sizeof(LV2_Atom)) {
        return;
    }
    LV2_Atom atom;
    std::memcpy(&atom, buffer, sizeof atom);
    if (atom.size > size - sizeof(LV2_Atom)) {
        return;
    }
    const auto* body = static_cast<const uint8_t*>(buffer) + sizeof(LV2_Atom);
    if (atom.type == urids.frame) {
        host.ReceiveFrame(body, static_cast<int32_t>(atom.size));
    } else if (atom.type == urids.peak && atom.size == sizeof(int32_t)) {
        int32_t value;
        std::memcpy(&value, body, sizeof value);
        host.ReceivePeak(value);
    }
}

} // namespace lv2ui
