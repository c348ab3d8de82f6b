#include "geometry.h"

#include "raster/fixed.h"

#include <algorithm>
#include <cmath>

namespace gdiplus_cairo {

Box SafeBox(Box box, double margin) {
    return Box{
        std::max(box.x1 - margin, -kCoordinateLimit), std::max(box.y1 - margin, -kCoordinateLimit),
        std::min(box.x2 + margin, kCoordinateLimit), std::min(box.y2 + margin, kCoordinateLimit)};
}

Box Intersection(const Box& a, const Box& b) {
    return Box{std::fmax(a.x1, b.x1), std::fmax(a.y1, b.y1), std::fmin(a.x2, b.x2),
               std::fmin(a.y2, b.y2)};
}

bool ClipSegment(const Box& box, double& x1, double& y1, double& x2, double& y2, bool& start_moved,
                 bool& end_moved) {
    const double dx = x2 - x1;
    const double dy = y2 - y1;
    double t0 = 0.0;
    double t1 = 1.0;
    // Each boundary as p * t <= q.
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1 - box.x1, box.x2 - x1, y1 - box.y1, box.y2 - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) {
                return false;
            }
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
        if (t0 > t1) {
            return false;
        }
    }
    start_moved = t0 > 0.0;
    end_moved = t1 < 1.0;
    const double start_x = x1 + t0 * dx;
    const double start_y = y1 + t0 * dy;
    if (end_moved) {
        x2 = std::clamp(x1 + t1 * dx, box.x1, box.x2);
        y2 = std::clamp(y1 + t1 * dy, box.y1, box.y2);
    }
    if (start_moved) {
        x1 = std::clamp(start_x, box.x1, box.x2);
        y1 = std::clamp(start_y, box.y1, box.y2);
    }
    return true;
}

namespace {

// Walks a line from (a1, b1) to (a2, b2) along its major axis a and hands every run of pixels
// that share a minor coordinate b, within the clip, to emit(a, b, length). At step k from a1 the
// minor coordinate is b1 + q with q = floor((2 k span + major) / (2 major)), span = b2 - b1:
// rounded to nearest, halves up. Since |span| <= major, q moves by one from run to run, and the
// last step of each run follows from q by one division. Wide holds every product of coordinates.
template <typename Wide, typename Emit>
void WalkMajorAxis(int64_t a1, int64_t b1, int64_t a2, int64_t b2, int64_t a_low, int64_t a_high,
                   int64_t b_low, int64_t b_high, Emit emit) {
    if (a1 > a2) {
        std::swap(a1, a2);
        std::swap(b1, b2);
    }
    const int64_t first = std::max(a1, a_low);
    const int64_t last = std::min(a2, a_high);
    if (first > last) {
        return;
    }
    const Wide major = Wide(a2) - a1;
    const Wide span = Wide(b2) - b1;
    const Wide slope = span < 0 ? -span : span;
    const auto emit_within = [&](int64_t a, Wide b, int64_t length) {
        if (b >= b_low && b <= b_high) {
            emit(a, static_cast<int64_t>(b), length);
        }
    };
    if (slope == 1) {
        // One step of the minor coordinate, halfway along (halves towards the second end).
        const Wide change = a1 + (span > 0 ? (major + 1) / 2 : major / 2 + 1);
        if (first < change) {
            emit_within(first, b1,
                        static_cast<int64_t>(std::min<Wide>(last, change - 1)) - first + 1);
        }
        if (last >= change) {
            const int64_t from = static_cast<int64_t>(std::max<Wide>(first, change));
            emit_within(from, Wide(b1) + span, last - from + 1);
        }
        return;
    }
    Wide q = FloorDivide<Wide>(2 * (Wide(first) - a1) * span + major, 2 * major);
    for (int64_t a = first; a <= last;) {
        // The last step k with this q: for a rising line the largest k with
        // 2 k span + major < 2 major (q + 1), for a falling one with 2 k span + major >= 2 major q.
        int64_t run_last = last;
        if (span != 0) {
            const Wide k = span > 0 ? FloorDivide<Wide>(major * (2 * q + 1) - 1, 2 * slope)
                                    : FloorDivide<Wide>(major * (1 - 2 * q), 2 * slope);
            if (k < Wide(last) - a1) {
                run_last = static_cast<int64_t>(a1 + k);
            }
        }
        emit_within(a, b1 + q, run_last - a + 1);
        a = run_last + 1;
        q += span > 0 ? 1 : -1;
    }
}

template <typename Emit>
void WalkMajorAxis(int64_t a1, int64_t b1, int64_t a2, int64_t b2, int64_t a_low, int64_t a_high,
                   int64_t b_low, int64_t b_high, Emit emit) {
    // Products of coordinates below 2^28 stay far inside 64 bits.
    constexpr int64_t kSmall = int64_t(1) << 28;
    const auto small = [](int64_t v) { return v > -kSmall && v < kSmall; };
    if (small(a1) && small(b1) && small(a2) && small(b2)) {
        WalkMajorAxis<int64_t>(a1, b1, a2, b2, a_low, a_high, b_low, b_high, emit);
    } else {
        WalkMajorAxis<__int128>(a1, b1, a2, b2, a_low, a_high, b_low, b_high, emit);
    }
}

} // namespace

void ThinLineRuns(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t px1, int64_t py1,
                  int64_t px2, int64_t py2, RunSink& sink) {
    if (px1 > px2 || py1 > py2) {
        return;
    }
    if (x1 == x2 && y1 == y2) {
        if (x1 >= px1 && x1 <= px2 && y1 >= py1 && y1 <= py2) {
            sink.Run(x1, y1, 1, 1);
        }
        return;
    }
    const int64_t adx = x2 > x1 ? x2 - x1 : x1 - x2;
    const int64_t ady = y2 > y1 ? y2 - y1 : y1 - y2;
    if (adx >= ady) { // rows of horizontal runs
        WalkMajorAxis(x1, y1, x2, y2, px1, px2, py1, py2,
                      [&](int64_t x, int64_t y, int64_t length) { sink.Run(x, y, length, 1); });
    } else { // columns of vertical runs
        WalkMajorAxis(y1, x1, y2, x2, py1, py2, px1, px2,
                      [&](int64_t y, int64_t x, int64_t length) { sink.Run(x, y, 1, length); });
    }
}

} // namespace gdiplus_cairo
