#include "geometry.h"

#include <algorithm>
#include <climits>

namespace gdiplus_cairo {

Box SafeBox(Box box, double margin) {
    return Box{
        std::max(box.x1 - margin, -kCoordinateLimit), std::max(box.y1 - margin, -kCoordinateLimit),
        std::min(box.x2 + margin, kCoordinateLimit), std::min(box.y2 + margin, kCoordinateLimit)};
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

PolygonClipper::PolygonClipper(const Box& box, PathSink& sink)
    : m_box(box), m_sink(sink), m_stages{}, m_started(false) {
    for (int i = 0; i < 4; ++i) {
        m_stages[i].edge = i;
    }
}

void PolygonClipper::Add(double x, double y) {
    Feed(0, x, y);
}

void PolygonClipper::Finish() {
    Close(0);
    if (m_started) {
        m_sink.ClosePath();
    }
    m_started = false;
}

bool PolygonClipper::Inside(int edge, double x, double y) const {
    switch (edge) {
    case 0:
        return x >= m_box.x1;
    case 1:
        return x <= m_box.x2;
    case 2:
        return y >= m_box.y1;
    default:
        return y <= m_box.y2;
    }
}

void PolygonClipper::Intersect(int edge, double ax, double ay, double bx, double by, double& x,
                               double& y) const {
    if (edge < 2) {
        const double bound = edge == 0 ? m_box.x1 : m_box.x2;
        const double t = (bound - ax) / (bx - ax);
        x = bound;
        y = std::clamp(ay + t * (by - ay), std::min(ay, by), std::max(ay, by));
    } else {
        const double bound = edge == 2 ? m_box.y1 : m_box.y2;
        const double t = (bound - ay) / (by - ay);
        y = bound;
        x = std::clamp(ax + t * (bx - ax), std::min(ax, bx), std::max(ax, bx));
    }
}

void PolygonClipper::Emit(int stage, double x, double y) {
    if (stage < 3) {
        Feed(stage + 1, x, y);
        return;
    }
    if (m_started) {
        m_sink.LineTo(x, y);
    } else {
        m_sink.MoveTo(x, y);
        m_started = true;
    }
}

// One edge of the polygon, previous -> (x, y), against one side of the box. The first vertex is
// passed on at once and the closing edge, last -> first, handled by Close: the same outline as the
// textbook order, started one vertex earlier.
void PolygonClipper::Feed(int stage, double x, double y) {
    Stage& s = m_stages[stage];
    const bool inside = Inside(s.edge, x, y);
    if (!s.has_first) {
        s.has_first = true;
        s.first_x = x;
        s.first_y = y;
    } else {
        const bool previous_inside = Inside(s.edge, s.previous_x, s.previous_y);
        if (inside != previous_inside) {
            double ix = 0.0;
            double iy = 0.0;
            Intersect(s.edge, s.previous_x, s.previous_y, x, y, ix, iy);
            Emit(stage, ix, iy);
        }
    }
    if (inside) {
        Emit(stage, x, y);
    }
    s.previous_x = x;
    s.previous_y = y;
}

void PolygonClipper::Close(int stage) {
    Stage& s = m_stages[stage];
    if (s.has_first) {
        const bool inside = Inside(s.edge, s.first_x, s.first_y);
        const bool previous_inside = Inside(s.edge, s.previous_x, s.previous_y);
        if (inside != previous_inside) {
            double ix = 0.0;
            double iy = 0.0;
            Intersect(s.edge, s.previous_x, s.previous_y, s.first_x, s.first_y, ix, iy);
            Emit(stage, ix, iy);
        }
    }
    s.has_first = false;
    if (stage < 3) {
        Close(stage + 1);
    }
}

namespace {

// floor(numerator / denominator) for a positive denominator.
template <typename Wide> Wide FloorDivide(Wide numerator, Wide denominator) {
    const Wide quotient = numerator / denominator;
    return numerator % denominator != 0 && numerator < 0 ? quotient - 1 : quotient;
}

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

namespace {

int64_t FloorDivide64(int64_t numerator, int64_t denominator) {
    int64_t quotient = numerator / denominator;
    if (numerator % denominator != 0 && (numerator < 0) != (denominator < 0)) {
        --quotient;
    }
    return quotient;
}

int64_t CeilDivide64(int64_t numerator, int64_t denominator) {
    return -FloorDivide64(-numerator, denominator);
}

constexpr int64_t kFixedOne = 256;

// Each bit of the result the parity of the bits of x up to and including it.
uint64_t PrefixParity(uint64_t x) {
    x ^= x << 1;
    x ^= x << 2;
    x ^= x << 4;
    x ^= x << 8;
    x ^= x << 16;
    x ^= x << 32;
    return x;
}

// The runs of a row under the even-odd rule, from a bit for each column crossed and a bit for
// each column crossed an odd number of times; clears both. A column is covered if the outline
// is inside after it, or if it is crossed and so is the next column (where a run that ends goes
// on through). Writes the runs' bounds, columns below width only, and returns how many it wrote.
// The last of the words holds the column width and beyond, so every run ends within them.
int64_t EvenOddRuns(uint64_t* crossed, uint64_t* odd, int64_t words, int64_t width,
                    int64_t* bounds) {
    int64_t count = 0;
    uint64_t inside_before = 0; // all ones when the outline is inside at the word's start
    bool covering = false;
    for (int64_t word = 0; word < words; ++word) {
        if (crossed[word] == 0 && inside_before == 0) {
            continue; // all outside: nothing starts or ends here
        }
        const uint64_t next_crossed = word + 1 < words ? crossed[word + 1] : 0;
        const uint64_t inside = PrefixParity(odd[word]) ^ inside_before;
        uint64_t covered = inside | (crossed[word] & (crossed[word] >> 1 | next_crossed << 63));
        inside_before = inside >> 63 != 0 ? ~uint64_t(0) : 0;
        crossed[word] = 0;
        odd[word] = 0;
        const int64_t base = word * 64;
        if (base + 64 > width) { // the last word
            covered &= (uint64_t(1) << (width - base)) - 1;
        }
        // Where covering changes within the word: a run's start or end.
        uint64_t changes = covered ^ (covered << 1 | (covering ? 1 : 0));
        for (; changes != 0; changes &= changes - 1) {
            bounds[count++] = base + __builtin_ctzll(changes);
        }
        covering = covered >> 63 != 0;
    }
    return count;
}

} // namespace

bool AliasedPolygonRuns(const FixedPoint* points, int64_t count, bool even_odd, int64_t width,
                        int64_t height, const ScanStorage& storage, RunSink& sink) {
    int64_t* const row_counts = storage.row_counts;
    std::fill(row_counts, row_counts + height + 1, 0);
    // Edge i runs from the upper of its ends to the lower, over rows first to last: those whose
    // centre r + 1/2 lies in [top.y, bottom.y). False for an edge that spans no row centre.
    struct Span {
        FixedPoint top, bottom;
        int64_t first, last;
        int dir;
    };
    const auto span_of = [&](int64_t i, Span& span) {
        const FixedPoint a = points[i];
        const FixedPoint b = points[i + 1 == count ? 0 : i + 1];
        if (a.y == b.y) {
            return false;
        }
        span.dir = a.y > b.y ? -1 : 1;
        span.top = a.y > b.y ? b : a;
        span.bottom = a.y > b.y ? a : b;
        span.first = std::max<int64_t>(CeilDivide64(span.top.y - kFixedOne / 2, kFixedOne), 0);
        span.last = std::min<int64_t>(CeilDivide64(span.bottom.y - kFixedOne / 2, kFixedOne) - 1,
                                      height - 1);
        return span.first <= span.last;
    };
    // Counted by first row first, so that each edge can go straight to its place in that order.
    bool rectilinear = true;
    int64_t edge_count = 0;
    Span span{};
    for (int64_t i = 0; i < count; ++i) {
        const FixedPoint a = points[i];
        const FixedPoint b = points[i + 1 == count ? 0 : i + 1];
        rectilinear = rectilinear && (a.x == b.x || a.y == b.y);
        if (span_of(i, span)) {
            ++row_counts[span.first + 1];
            ++edge_count;
        }
    }
    if (rectilinear) {
        return false;
    }
    for (int64_t row = 1; row <= height; ++row) {
        row_counts[row] += row_counts[row - 1];
    }
    ScanEdge* const by_row = storage.by_row;
    for (int64_t i = 0; i < count; ++i) {
        if (!span_of(i, span)) {
            continue;
        }
        // The position a 256th above the first row's centre, then one row further each step.
        const int64_t dx = span.bottom.x - span.top.x;
        const int64_t dy = span.bottom.y - span.top.y;
        const int64_t numerator = (span.first * kFixedOne + kFixedOne / 2 - 1 - span.top.y) * dx;
        const int64_t x = FloorDivide64(numerator, dy);
        // An edge within one row never steps (most of a wavy outline's edges).
        const int64_t step = span.last > span.first ? FloorDivide64(kFixedOne * dx, dy) : 0;
        by_row[row_counts[span.first]++] =
            ScanEdge{span.top.x + x, numerator - x * dy, step,    kFixedOne * dx - step * dy, dy,
                     span.first,     span.last,          span.dir};
    }
    // Where a row's edges cross it, by pixel: the winding change in each column and a bit for each
    // column crossed at all. Crossings in one column act together, whatever their order: the first
    // one leaves the outside, and only the last one's state counts at the column's end.
    int32_t* const changes = storage.winding_changes;
    uint64_t* const crossed = storage.crossed;
    const int64_t words = width / 64 + 1;
    uint64_t* const odd = storage.odd;
    std::fill(changes, changes + width + 1, 0);
    std::fill(crossed, crossed + words, 0);
    std::fill(odd, odd + words, 0);
    const int64_t right = width * kFixedOne;
    // by_row[begin, next) are the edges of the row, by_row[next, edge_count) have not started;
    // row_counts[row] is now where the edges that start after the row begin. An edge that ends
    // takes the place of the one at begin, which the row has already seen.
    int64_t begin = 0;
    int64_t next = 0;
    for (int64_t row = 0; row < height; ++row) {
        if (begin == next) {
            if (next == edge_count) {
                break;
            }
            row = std::max(row, by_row[next].first_row);
        }
        next = row_counts[row];
        for (int64_t k = begin; k < next; ++k) {
            ScanEdge& e = by_row[k];
            const int64_t column = (std::clamp<int64_t>(e.x, 0, right) + kFixedOne / 2 - 1) >> 8;
            const uint64_t bit = uint64_t(1) << (column & 63);
            if (even_odd) {
                odd[column >> 6] ^= bit;
            } else {
                changes[column] += e.dir;
            }
            crossed[column >> 6] |= bit;
            if (e.last_row == row) {
                if (k != begin) {
                    e = by_row[begin];
                }
                ++begin;
                continue;
            }
            // Without a branch: whether the remainder carries follows no pattern.
            e.remainder += e.step_remainder;
            const bool carry = e.remainder >= e.dy;
            e.x += e.step + carry;
            e.remainder -= carry ? e.dy : 0;
        }
        if (even_odd) {
            const int64_t bounds = EvenOddRuns(crossed, odd, words, width, storage.bounds);
            if (bounds > 0) {
                sink.Row(row, storage.bounds, bounds / 2);
            }
            continue;
        }
        int winding = 0;
        int64_t start = -1;
        int64_t end = -1; // the column where the outside was reached, unless a crossing follows
        int64_t bounds = 0;
        const auto emit = [&] {
            const int64_t to = std::min(end, width);
            if (start < to) {
                storage.bounds[bounds++] = start;
                storage.bounds[bounds++] = to;
            }
            start = -1;
            end = -1;
        };
        for (int64_t word = 0; word < words; ++word) {
            for (uint64_t bits = crossed[word]; bits != 0; bits &= bits - 1) {
                const int64_t column = word * 64 + __builtin_ctzll(bits);
                if (end >= 0 && column > end + 1) {
                    emit();
                }
                end = -1;
                if (start < 0) {
                    start = column;
                }
                winding += changes[column];
                changes[column] = 0;
                if (even_odd ? (winding & 1) == 0 : winding == 0) {
                    end = column;
                }
            }
            crossed[word] = 0;
        }
        if (end >= 0) {
            emit();
        }
        if (bounds > 0) {
            sink.Row(row, storage.bounds, bounds / 2);
        }
    }
    return true;
}

} // namespace gdiplus_cairo
