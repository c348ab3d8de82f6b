// The flat calls' side of the recording seam.
#pragma once

#include "gdiplus.h"

#include <atomic>
#include <cstddef>
#include <initializer_list>

namespace gdiplus_recording::detail {

extern std::atomic<bool> g_recording;

void Append(const char* name, Gdiplus::Status status, const void* target, const void* tool,
            const void* created, std::initializer_list<double> numbers,
            const Gdiplus::Point* points = nullptr, std::size_t point_count = 0);

// Records one call if recording is on; costs one atomic load otherwise.
inline void Record(const char* name, Gdiplus::Status status, const void* target, const void* tool,
                   const void* created, std::initializer_list<double> numbers,
                   const Gdiplus::Point* points = nullptr, std::size_t point_count = 0) {
    if (g_recording.load(std::memory_order_relaxed)) {
        Append(name, status, target, tool, created, numbers, points, point_count);
    }
}

} // namespace gdiplus_recording::detail
