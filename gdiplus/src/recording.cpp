#include "gdiplus_recording.h"
#include "recording_internal.h"

#include <mutex>

namespace gdiplus_recording {
namespace {
std::mutex g_mutex;
std::vector<Call> g_calls;
std::vector<Gdiplus::Point> g_points;
std::size_t g_max_calls = 0;
std::size_t g_max_points = 0;
bool g_overflowed = false;
} // namespace

namespace detail {
std::atomic<bool> g_recording{false};

void Append(const char* name, Gdiplus::Status status, const void* target, const void* tool,
            const void* created, std::initializer_list<double> numbers,
            const Gdiplus::Point* points, std::size_t point_count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_recording.load(std::memory_order_relaxed)) {
        return;
    }
    // Never grow the stores: a call that does not fit the reservation is dropped.
    if (g_calls.size() >= g_max_calls || g_max_points - g_points.size() < point_count) {
        g_overflowed = true;
        return;
    }
    Call call{};
    call.name = name;
    call.status = status;
    call.target = target;
    call.tool = tool;
    call.created = created;
    for (double number : numbers) {
        if (call.number_count < static_cast<int>(sizeof(call.numbers) / sizeof(call.numbers[0]))) {
            call.numbers[call.number_count++] = number;
        }
    }
    call.first_point = g_points.size();
    call.point_count = point_count;
    g_points.insert(g_points.end(), points, points + point_count);
    g_calls.push_back(call);
}
} // namespace detail

void Start(std::size_t max_calls, std::size_t max_points) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.clear();
    g_points.clear();
    g_calls.reserve(max_calls);
    g_points.reserve(max_points);
    g_max_calls = max_calls;
    g_max_points = max_points;
    g_overflowed = false;
    detail::g_recording.store(true);
}

void Stop() {
    std::lock_guard<std::mutex> lock(g_mutex);
    detail::g_recording.store(false);
}

bool IsRecording() {
    return detail::g_recording.load();
}

bool Overflowed() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_overflowed;
}

std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_calls;
}

std::vector<std::string> Names() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<std::string> names;
    names.reserve(g_calls.size());
    for (const Call& call : g_calls) {
        names.emplace_back(call.name);
    }
    return names;
}

std::vector<Gdiplus::Point> PointsOf(const Call& call) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (call.first_point > g_points.size() ||
        g_points.size() - call.first_point < call.point_count) {
        return {};
    }
    return std::vector<Gdiplus::Point>(g_points.begin() + call.first_point,
                                       g_points.begin() + call.first_point + call.point_count);
}

} // namespace gdiplus_recording
