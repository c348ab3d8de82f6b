#include "cairo_dc.h"
#include "device_contexts.h"

#include <cstdint>
#include <mutex>

namespace {

// A handle is slot + 1 + kSlots * generation: small, positive, within 31 bits, and never the same
// for two lendings of one slot until the generation wraps, so a returned handle stays dead.
constexpr uint32_t kSlots = 64;
constexpr uint32_t kGenerations = 1u << 24;

struct Slot {
    cairo_surface_t* surface = nullptr;
    uint32_t handle = 0;
};

std::mutex g_mutex;
Slot g_slots[kSlots];
uint32_t g_next_generation = 0;

uint32_t HandleValue(HDC handle) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    return value > UINT32_MAX ? 0 : static_cast<uint32_t>(value);
}

Slot* FindSlot(uint32_t value) {
    if (value == 0) {
        return nullptr;
    }
    Slot& slot = g_slots[(value - 1) % kSlots];
    return slot.surface != nullptr && slot.handle == value ? &slot : nullptr;
}

} // namespace

extern "C" HDC CairoDcLend(cairo_surface_t* surface) {
    if (surface == nullptr || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    for (uint32_t index = 0; index < kSlots; ++index) {
        Slot& slot = g_slots[index];
        if (slot.surface == nullptr) {
            const uint32_t generation = g_next_generation;
            g_next_generation = (g_next_generation + 1) % kGenerations;
            slot.surface = cairo_surface_reference(surface);
            slot.handle = index + 1 + kSlots * generation;
            return reinterpret_cast<HDC>(static_cast<uintptr_t>(slot.handle));
        }
    }
    return nullptr;
}

extern "C" void CairoDcReturn(HDC handle) {
    cairo_surface_t* surface = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Slot* slot = FindSlot(HandleValue(handle));
        if (slot == nullptr) {
            return;
        }
        surface = slot->surface;
        slot->surface = nullptr;
        slot->handle = 0;
    }
    cairo_surface_destroy(surface);
}

namespace gdiplus_cairo {

cairo_surface_t* AcquireLentSurface(HDC handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Slot* slot = FindSlot(HandleValue(handle));
    return slot == nullptr ? nullptr : cairo_surface_reference(slot->surface);
}

} // namespace gdiplus_cairo
