// Reproduces Cairo 1.16's polygon edges and anti-aliased scan converter arithmetic, step for step,
// so that the coverage matches Cairo's to the byte.
#include "coverage.h"

#include "pixels.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace gdiplus_cairo {

namespace {

constexpr int64_t kFixedOne = 256;
// Each pixel row is sampled on 15 sub-rows; across, a cell is 256 units wide, one per 256th.
constexpr int kSubRows = 15;
constexpr int kCellBits = 8;
constexpr int64_t kCellWidth = int64_t(1) << kCellBits;
// The largest coordinate in 256ths, and surface side in pixels times 256, whose products stay
// within 64 bits.
constexpr int64_t kLargest = int64_t(1) << 23;
// Stretches of full coverage at least this long are marked for the sink.
constexpr int64_t kLongRun = 16;
// Areas count twice the sub-rows times 256ths: a sub-row across a whole cell is 512.
constexpr int32_t kCoverPerHeight = 2 * kCellWidth;

// The point on the line p1-p2 at y, rounded towards p1's coordinate.
int64_t XForY(FixedPoint p1, FixedPoint p2, int64_t y) {
    if (y == p1.y) {
        return p1.x;
    }
    if (y == p2.y) {
        return p2.x;
    }
    const int64_t dy = p2.y - p1.y;
    return dy != 0 ? p1.x + (y - p1.y) * (p2.x - p1.x) / dy : p1.x;
}

// The same across: the point on the line at x.
int64_t YForX(FixedPoint p1, FixedPoint p2, int64_t x) {
    return XForY({p1.y, p1.x}, {p2.y, p2.x}, x);
}

int64_t FloorDivide(int64_t numerator, int64_t denominator) {
    const int64_t quotient = numerator / denominator;
    return numerator % denominator != 0 && numerator < 0 ? quotient - 1 : quotient;
}

} // namespace

EdgeBuilder::EdgeBuilder(int64_t width, int64_t height)
    : m_edges(reinterpret_cast<CoverageEdge*>(ScratchEdges(64 * sizeof(CoverageEdge)))),
      m_capacity(m_edges != nullptr ? 64 : 0), m_width(width), m_height(height), m_left(INT32_MAX),
      m_right(INT32_MIN) {}

void EdgeBuilder::Push(FixedPoint p1, FixedPoint p2, int64_t top, int64_t bottom, int dir) {
    if (m_edges == nullptr) {
        return;
    }
    if (m_count == m_capacity) {
        m_capacity *= 2;
        m_edges = reinterpret_cast<CoverageEdge*>(
            ScratchEdges(static_cast<std::size_t>(m_capacity) * sizeof(CoverageEdge)));
        if (m_edges == nullptr) {
            return;
        }
    }
    m_edges[m_count++] = CoverageEdge{p1, p2, top, bottom, dir};
    // The extent takes an end's position at the edge's own top or bottom, only when that end lies
    // outside the extent so far (the order of the edges can matter).
    if (p1.x < m_left || p1.x > m_right) {
        const int64_t x = top != p1.y ? XForY(p1, p2, top) : p1.x;
        m_left = std::min(m_left, x);
        m_right = std::max(m_right, x);
    }
    if (p2.x < m_left || p2.x > m_right) {
        const int64_t x = bottom != p2.y ? XForY(p1, p2, bottom) : p2.x;
        m_left = std::min(m_left, x);
        m_right = std::max(m_right, x);
    }
}

void EdgeBuilder::Add(FixedPoint p1, FixedPoint p2, int dir) {
    if (p1.y == p2.y) {
        return;
    }
    if (p1.y > p2.y) {
        std::swap(p1, p2);
        dir = -dir;
    }
    if (p2.y <= 0 || p1.y >= m_height * kFixedOne) {
        return;
    }
    AddClipped(p1, p2, p1.y, p2.y, dir);
}

// Within the surface an edge is kept as it is, over the rows it spans there. Beyond the left or
// right side it becomes a vertical edge on that side for the rows where it lies beyond.
void EdgeBuilder::AddClipped(FixedPoint p1, FixedPoint p2, int64_t top, int64_t bottom, int dir) {
    const FixedPoint top_left{0, 0};
    const FixedPoint bottom_right{m_width * kFixedOne, m_height * kFixedOne};
    const FixedPoint bottom_left{top_left.x, bottom_right.y};
    const FixedPoint top_right{bottom_right.x, top_left.y};
    int64_t top_y = std::max(top, top_left.y);
    int64_t bottom_y = std::min(bottom, bottom_right.y);
    const int64_t left = std::min(p1.x, p2.x);
    const int64_t right = std::max(p1.x, p2.x);
    if (top_left.x <= left && right <= bottom_right.x) {
        Push(p1, p2, top_y, bottom_y, dir);
        return;
    }
    if (right <= top_left.x) {
        Push(top_left, bottom_left, top_y, bottom_y, dir);
        return;
    }
    if (bottom_right.x <= left) {
        Push(top_right, bottom_right, top_y, bottom_y, dir);
        return;
    }
    // The edge crosses a side: the rows above the crossing and those below it go to the side the
    // edge lies beyond there, and the rows between to the edge itself. Falling to the right, it
    // starts beyond the left side and ends beyond the right; falling to the left the other way.
    struct Side {
        int64_t x;
        bool is_left;
        bool beyond;
        FixedPoint top, bottom;
    };
    const Side left_side{top_left.x, true, left < top_left.x, top_left, bottom_left};
    const Side right_side{bottom_right.x, false, right > bottom_right.x, top_right, bottom_right};
    const bool falling_right = (p1.x <= p2.x) == (p1.y <= p2.y);
    const Side& upper = falling_right ? left_side : right_side;
    const Side& lower = falling_right ? right_side : left_side;
    // The row where the edge meets a side, moved by nudge while its column there is still beyond.
    const auto crossing = [&](const Side& side, int64_t nudge) {
        const int64_t y = YForX(p1, p2, side.x);
        const int64_t x = XForY(p1, p2, y);
        return (side.is_left ? x < side.x : x > side.x) ? y + nudge : y;
    };
    const int64_t upper_y = std::min(upper.beyond ? crossing(upper, 1) : top_y, bottom_y);
    if (top_y < upper_y) {
        Push(upper.top, upper.bottom, top_y, upper_y, dir);
        top_y = upper_y;
    }
    const int64_t lower_y = std::max(lower.beyond ? crossing(lower, -1) : bottom_y, top_y);
    if (bottom_y > lower_y) {
        Push(lower.top, lower.bottom, lower_y, bottom_y, dir);
        bottom_y = lower_y;
    }
    if (top_y != bottom_y) {
        Push(p1, p2, top_y, bottom_y, dir);
    }
}

bool AddPolygon(EdgeBuilder& edges, const FixedPoint* points, int64_t count) {
    if (count <= 0) {
        return true;
    }
    bool rectilinear = true;
    for (int64_t i = 0; i < count && rectilinear; ++i) {
        const FixedPoint a = points[i];
        const FixedPoint b = points[i + 1 == count ? 0 : i + 1];
        rectilinear = a.x == b.x || a.y == b.y;
    }
    if (rectilinear) {
        return false;
    }
    // The path's last two points: an edge is added once the point after it is known not to extend
    // it. `lined` is false until the first line.
    const FixedPoint first = points[0];
    FixedPoint before = first;
    FixedPoint current = first;
    bool lined = false;
    const auto line_to = [&](FixedPoint point) {
        if (lined && point.x == current.x && point.y == current.y) {
            return; // a repeated point
        }
        bool extends = false;
        if (lined) {
            if (before.x == current.x && before.y == current.y) {
                extends = true; // the line before was a repeated first point
            } else {
                // Products of differences of far-apart points can pass 64 bits.
                const __int128 dx1 = current.x - before.x;
                const __int128 dy1 = current.y - before.y;
                const __int128 dx2 = point.x - current.x;
                const __int128 dy2 = point.y - current.y;
                extends = dy1 * dx2 == dy2 * dx1 && dx1 * dx2 + dy1 * dy2 >= 0;
            }
        }
        if (!extends) {
            if (lined) {
                edges.Add(before, current, 1);
            }
            before = current;
        }
        current = point;
        lined = true;
    };
    for (int64_t i = 1; i < count; ++i) {
        line_to(points[i]);
    }
    // Closing adds a line back to the first point, which may extend the last one or repeat it.
    line_to(first);
    edges.Add(before, first, 1);
    return true;
}

namespace {

// An edge as the converter steps it: its position in 256ths at the current sub-row is x + x_rem /
// dy, and each sub-row (whole row) adds step + step_rem / dy (row_step + row_rem / dy), with every
// remainder kept in [0, dy): the one form of each position, which Cairo's steps also reach. A
// vertical edge steps by nothing, and its dy is so large that its remainder never counts.
struct SampledEdge {
    int64_t x, x_rem, step, step_rem, row_step, row_rem, dy;
    int64_t cell; // x rounded to the nearest 256th, halves up
    int32_t top, height_left, dir;
    bool vertical;
};
constexpr int64_t kVerticalDy = INT64_MAX / 4;

// A position rounded to the nearest 256th, halves up (dy is even).
int64_t Nearest(int64_t quotient, int64_t remainder, int64_t dy) {
    return quotient + (2 * remainder >= dy);
}

// A row's cells, by slot: slot 0 for every column left of the first one rendered, then one for
// each column rendered and one for every column after them. A bit for each slot with a cell.
struct Cells {
    int32_t* heights;
    int32_t* areas;
    uint64_t* touched;
    int64_t first_column; // the column of slot 1
    int64_t last_slot;    // the slot of every column after

    void Add(int64_t column, int64_t height, int64_t area) const {
        const int64_t slot = std::clamp<int64_t>(column - first_column + 1, 0, last_slot);
        heights[slot] += static_cast<int32_t>(height);
        areas[slot] += static_cast<int32_t>(area);
        touched[slot >> 6] |= uint64_t(1) << (slot & 63);
    }
    // The cells of a span from x1 to x2 in 256ths.
    void AddSpan(int64_t x1, int64_t x2) const {
        if (x1 == x2) {
            return;
        }
        const int64_t ix1 = x1 >> kCellBits;
        const int64_t fx1 = x1 & (kCellWidth - 1);
        const int64_t ix2 = x2 >> kCellBits;
        const int64_t fx2 = x2 & (kCellWidth - 1);
        if (ix1 != ix2) {
            Add(ix1, 1, 2 * fx1);
            Add(ix2, -1, -2 * fx2);
        } else {
            Add(ix1, 0, 2 * (fx1 - fx2));
        }
    }
};

// The converter's working state for one fill.
class Converter {
public:
    Converter(SampledEdge* edges, int32_t* active, int32_t* merged, int32_t* batch,
              const Cells& cells, uint8_t* alpha, int64_t* full, unsigned mask)
        : m_edges(edges), m_active(active), m_merged(merged), m_batch(batch), m_cells(cells),
          m_alpha(alpha), m_full(full), m_mask(mask) {}

    void Merge(const int32_t* order, int64_t count);
    bool Empty() const { return m_count == 0; }
    void NoteNew(const SampledEdge& e) {
        m_min_height = std::min(m_min_height, e.height_left);
        m_vertical = m_vertical && e.vertical;
    }
    void Emptied() {
        m_min_height = INT_MAX;
        m_vertical = true;
    }
    bool CanDoFullRow();
    void SubRow();
    void FullRow();
    // After a whole row of vertical edges only: how many more rows, up to limit, are the same.
    int64_t SameRows(int64_t limit);
    void EndRow() { m_min_height -= kSubRows; }
    void Emit(int64_t y0, int64_t y1, CoverageSink& sink);

private:
    // Without a branch: whether the remainder carries follows no pattern.
    static void Advance(int64_t& x, int64_t& x_rem, int64_t step, int64_t step_rem, int64_t dy) {
        x += step;
        x_rem += step_rem;
        const bool carry = x_rem >= dy;
        x += carry;
        x_rem -= carry ? dy : 0;
    }
    static void Step(SampledEdge& e) {
        Advance(e.x, e.x_rem, e.step, e.step_rem, e.dy);
        e.cell = Nearest(e.x, e.x_rem, e.dy);
    }
    static void FullStep(SampledEdge& e) {
        Advance(e.x, e.x_rem, e.row_step, e.row_rem, e.dy);
        e.cell = Nearest(e.x, e.x_rem, e.dy);
    }
    static void Normalise(int64_t& quotient, int64_t& remainder, int64_t dy) {
        if (remainder < 0) {
            --quotient;
            remainder += dy;
        } else if (remainder >= dy) {
            ++quotient;
            remainder -= dy;
        }
    }
    void PhaseMerge(const int32_t* a, int64_t na, const int32_t* b, int64_t nb, int32_t* out) const;
    static void RenderEdge(const Cells& cells, SampledEdge& e, int sign);

    SampledEdge* m_edges;
    int32_t* m_active;
    int32_t* m_merged;
    int32_t* m_batch;
    Cells m_cells;
    uint8_t* m_alpha; // by slot
    int64_t* m_full;  // the bounds of the row's long runs of full coverage
    unsigned m_mask;
    int64_t m_count = 0;
    int32_t m_min_height = 0;
    bool m_vertical = true;
};

// Two lists merged as the converter's linked lists are: each phase takes from one list while it
// is not past the other's head, so ties go to the list being taken from.
void Converter::PhaseMerge(const int32_t* a, int64_t na, const int32_t* b, int64_t nb,
                           int32_t* out) const {
    int64_t i = 0;
    int64_t j = 0;
    bool from_a = na > 0 && (nb == 0 || m_edges[a[0]].cell <= m_edges[b[0]].cell);
    while (true) {
        if (from_a) {
            const int64_t x = j < nb ? m_edges[b[j]].cell : INT64_MAX;
            while (i < na && m_edges[a[i]].cell <= x) {
                *out++ = a[i++];
            }
            if (i == na) {
                std::copy(b + j, b + nb, out);
                return;
            }
        } else {
            const int64_t x = i < na ? m_edges[a[i]].cell : INT64_MAX;
            while (j < nb && m_edges[b[j]].cell <= x) {
                *out++ = b[j++];
            }
            if (j == nb) {
                std::copy(a + i, a + na, out);
                return;
            }
        }
        from_a = !from_a;
    }
}

// New edges, in the order they were added, sorted bottom-up in blocks of powers of two and merged
// into the active ones.
void Converter::Merge(const int32_t* order, int64_t count) {
    if (count == 1) {
        const int64_t cell = m_edges[order[0]].cell;
        int64_t at = 0;
        if (m_count > 0 && m_edges[m_active[0]].cell <= cell) {
            while (at < m_count && m_edges[m_active[at]].cell <= cell) {
                ++at;
            }
        }
        std::memmove(m_active + at + 1, m_active + at,
                     static_cast<std::size_t>(m_count - at) * sizeof(int32_t));
        m_active[at] = order[0];
        ++m_count;
        return;
    }
    int32_t* from = m_batch;
    int32_t* to = m_merged;
    std::copy(order, order + count, from);
    for (int64_t width = 1; width < count; width *= 2) {
        for (int64_t start = 0; start < count; start += 2 * width) {
            const int64_t middle = std::min(start + width, count);
            const int64_t end = std::min(start + 2 * width, count);
            PhaseMerge(from + start, middle - start, from + middle, end - middle, to + start);
        }
        std::swap(from, to);
    }
    // `from` holds the sorted batch; the other buffer takes the merge.
    int32_t* out = from == m_batch ? m_merged : m_batch;
    PhaseMerge(m_active, m_count, from, count, out);
    m_count += count;
    std::copy(out, out + m_count, m_active);
}

bool Converter::CanDoFullRow() {
    if (m_min_height <= 0) {
        int32_t min_height = INT_MAX;
        bool vertical = true;
        for (int64_t k = 0; k < m_count; ++k) {
            const SampledEdge& e = m_edges[m_active[k]];
            min_height = std::min(min_height, e.height_left);
            vertical = vertical && e.vertical;
        }
        m_vertical = vertical;
        m_min_height = min_height;
    }
    if (m_min_height < kSubRows) {
        return false;
    }
    // No two edges may cross within the row.
    int64_t previous = INT64_MIN;
    for (int64_t k = 0; k < m_count; ++k) {
        const SampledEdge& e = m_edges[m_active[k]];
        int64_t x = e.x;
        int64_t rem = e.x_rem;
        Advance(x, rem, e.row_step, e.row_rem, e.dy);
        const int64_t cell = Nearest(x, rem, e.dy);
        if (cell < previous) {
            return false;
        }
        previous = cell;
    }
    return true;
}

// One sub-row: the spans inside the outline at the edges' positions, then every edge stepped to
// the next sub-row and kept in order by an insertion that goes after equal positions.
void Converter::SubRow() {
    // Locals, so that stores to the edges and cells need not reload the converter's members.
    SampledEdge* const edges = m_edges;
    int32_t* const active = m_active;
    const int64_t count = m_count;
    const Cells cells = m_cells;
    const unsigned mask = m_mask;
    int64_t start = INT64_MIN;
    int64_t previous = INT64_MIN;
    int winding = 0;
    int64_t kept = 0;
    for (int64_t k = 0; k < count; ++k) {
        const int32_t index = active[k];
        SampledEdge& e = edges[index];
        const int64_t end = e.cell;
        if (--e.height_left != 0) {
            Step(e);
            if (e.cell < previous) {
                int64_t at = kept - 1;
                while (at > 0 && e.cell < edges[active[at - 1]].cell) {
                    --at;
                }
                std::memmove(active + at + 1, active + at,
                             static_cast<std::size_t>(kept - at) * sizeof(int32_t));
                active[at] = index;
            } else {
                active[kept] = index;
                previous = e.cell;
            }
            ++kept;
        }
        winding += e.dir;
        if ((static_cast<unsigned>(winding) & mask) == 0) {
            const int64_t next = k + 1 < count ? edges[active[k + 1]].cell : INT64_MAX;
            if (next != end) {
                cells.AddSpan(start, end);
                start = INT64_MIN;
            }
        } else if (start == INT64_MIN) {
            start = end;
        }
    }
    if (kept > 0) {
        m_min_height = -1;
    }
    m_count = kept;
}

// The area an edge sweeps across a whole row, cell by cell: sign * (the row's height, and twice
// the area left of the edge within each cell).
void Converter::RenderEdge(const Cells& cells, SampledEdge& e, int sign) {
    int64_t x1 = e.x;
    int64_t rem1 = e.x_rem;
    FullStep(e);
    int64_t x2 = e.x;
    int64_t rem2 = e.x_rem;
    // From the first and last sub-rows' centres to the row's top and bottom, by half of Cairo's
    // sub-row step: its quotient and remainder, rounded towards zero, halved each.
    const bool towards_zero = e.step < 0 && e.step_rem != 0;
    const int64_t half = (e.step + towards_zero) / 2;
    const int64_t half_rem = (e.step_rem - (towards_zero ? e.dy : 0)) / 2;
    x1 -= half;
    rem1 -= half_rem;
    Normalise(x1, rem1, e.dy);
    x2 -= half;
    rem2 -= half_rem;
    Normalise(x2, rem2, e.dy);
    int64_t ix1 = x1 >> kCellBits;
    int64_t fx1 = x1 & (kCellWidth - 1);
    int64_t ix2 = x2 >> kCellBits;
    int64_t fx2 = x2 & (kCellWidth - 1);
    if (ix1 == ix2) {
        cells.Add(ix1, sign * kSubRows, sign * (fx1 + fx2) * kSubRows);
        return;
    }
    if (ix2 < ix1) {
        std::swap(ix1, ix2);
        std::swap(fx1, fx2);
        std::swap(x1, x2);
        std::swap(rem1, rem2);
    }
    const int64_t dx = (x2 - x1) * e.dy + (rem2 - rem1);
    const int64_t height = ((ix1 + 1) * kCellWidth * e.dy - (x1 * e.dy + rem1)) * kSubRows;
    int64_t y = height / dx;
    int64_t y_rem = height % dx;
    cells.Add(ix1, sign * y, sign * y * (kCellWidth + fx1));
    int64_t y_last = y;
    if (ix1 + 1 < ix2) {
        const int64_t across = kSubRows * kCellWidth * e.dy;
        const int64_t full = across / dx;
        const int64_t full_rem = across % dx;
        for (int64_t column = ix1 + 1; column < ix2; ++column) {
            y += full;
            y_rem += full_rem;
            if (y_rem >= dx) {
                ++y;
                y_rem -= dx;
            }
            cells.Add(column, sign * (y - y_last), sign * (y - y_last) * kCellWidth);
            y_last = y;
        }
    }
    cells.Add(ix2, sign * (kSubRows - y_last), sign * (kSubRows - y_last) * fx2);
}

// A whole row at once: each stretch inside the outline from its left edge to its right edge, the
// edges between them only stepped.
void Converter::FullRow() {
    const Cells cells = m_cells;
    const auto lower = [&](SampledEdge& e) {
        e.height_left -= kSubRows;
        if (e.height_left == 0) {
            m_min_height = -1;
        }
    };
    for (int64_t k = 0; k < m_count;) {
        SampledEdge& left = m_edges[m_active[k]];
        lower(left);
        int winding = left.dir;
        int64_t r = k + 1;
        for (; r < m_count; ++r) {
            SampledEdge& right = m_edges[m_active[r]];
            lower(right);
            winding += right.dir;
            const int64_t next = r + 1 < m_count ? m_edges[m_active[r + 1]].cell : INT64_MAX;
            if ((static_cast<unsigned>(winding) & m_mask) == 0 && next != right.cell) {
                break;
            }
            FullStep(right);
        }
        if (r == m_count) {
            break; // an open outline: nothing closes the stretch
        }
        RenderEdge(cells, left, 1);
        RenderEdge(cells, m_edges[m_active[r]], -1);
        k = r + 1;
    }
    int64_t kept = 0;
    for (int64_t k = 0; k < m_count; ++k) {
        if (m_edges[m_active[k]].height_left != 0) {
            m_active[kept++] = m_active[k];
        }
    }
    m_count = kept;
}

int64_t Converter::SameRows(int64_t limit) {
    if (!m_vertical) {
        return 0;
    }
    int64_t rows = 0;
    while (rows < limit && m_min_height >= 2 * kSubRows) {
        m_min_height -= kSubRows;
        ++rows;
    }
    if (rows > 0) {
        int64_t kept = 0;
        for (int64_t k = 0; k < m_count; ++k) {
            SampledEdge& e = m_edges[m_active[k]];
            e.height_left -= static_cast<int32_t>(rows * kSubRows);
            if (e.height_left != 0) {
                m_active[kept++] = m_active[k];
            } else {
                m_min_height = -1;
            }
        }
        m_count = kept;
    }
    return rows;
}

// The row's coverage from its cells: a running sum of heights across the row, less each cell's
// uncovered area; between cells the sum alone. Columns left of x_min count only for the sum; those
// from x_max on not at all. Clears the cells.
void Converter::Emit(int64_t y0, int64_t y1, CoverageSink& sink) {
    const int64_t last_slot = m_cells.last_slot - 1; // the last slot of a column rendered
    int32_t* const heights = m_cells.heights;
    int32_t* const areas = m_cells.areas;
    uint64_t* const touched = m_cells.touched;
    const auto alpha_of = [](int32_t area) { return static_cast<uint8_t>((area * 17 + 256) >> 9); };
    int32_t cover = 0;
    int64_t first = 0; // the first slot written, once there is one
    int64_t next = 1;  // the slot after the last one written
    int64_t runs = 0;
    // Slots next..to - 1 lie between cells, where the coverage is the running sum's.
    const auto fill = [&](int64_t to) {
        const uint8_t alpha = alpha_of(cover);
        std::memset(m_alpha + next, alpha, static_cast<std::size_t>(to - next));
        if (alpha == 0xFF && to - next >= kLongRun) {
            if (runs > 0 && m_full[2 * runs - 1] == next) {
                m_full[2 * runs - 1] = to;
            } else {
                m_full[2 * runs] = next;
                m_full[2 * runs + 1] = to;
                ++runs;
            }
        }
    };
    for (int64_t word = 0; word <= (last_slot + 1) >> 6; ++word) {
        for (uint64_t bits = touched[word]; bits != 0; bits &= bits - 1) {
            const int64_t slot = word * 64 + __builtin_ctzll(bits);
            if (slot == 0) {
                cover = heights[0] * kCoverPerHeight;
                first = cover != 0 ? 1 : 0;
            } else if (slot <= last_slot) {
                if (first == 0) {
                    first = slot;
                } else if (slot > next) {
                    fill(slot);
                }
                cover += heights[slot] * kCoverPerHeight;
                m_alpha[slot] = alpha_of(cover - areas[slot]);
                next = slot + 1;
            }
            heights[slot] = 0;
            areas[slot] = 0;
        }
        touched[word] = 0;
    }
    // Nothing from x_max on. (For a row whose only change lies at x_max, Cairo's blit reads a span
    // it never wrote and its result is undefined.)
    if (cover != 0 && first != 0) {
        fill(last_slot + 1);
        next = last_slot + 1;
    }
    if (first != 0 && next > first) {
        for (int64_t k = 0; k < 2 * runs; ++k) {
            m_full[k] -= first;
        }
        for (int64_t y = y0; y < y1; ++y) {
            sink.Row(y, m_cells.first_column + first - 1, m_alpha + first, next - first, m_full,
                     runs);
        }
    }
}

} // namespace

bool CoverEdges(const EdgeBuilder& builder, bool even_odd, CoverageSink& sink) {
    if (!builder.Valid()) {
        return false;
    }
    const int64_t count = builder.Count();
    const int64_t width = builder.Width();
    const int64_t height = builder.Height();
    // Columns where Cairo renders: the edges' extent rounded out, within the surface.
    const int64_t x_min = std::max<int64_t>(FloorDivide(builder.Left(), kFixedOne), 0);
    const int64_t x_max =
        std::min<int64_t>(FloorDivide(builder.Right() + kFixedOne - 1, kFixedOne), width);
    // Cairo takes a polygon whose recorded extent has no width for an empty one.
    if (count == 0 || builder.Right() <= builder.Left() || x_min >= x_max || height <= 0) {
        return true;
    }
    if (width > kLargest / kFixedOne || height > kLargest / kFixedOne) {
        return false;
    }
    const int64_t sub_rows = height * kSubRows;
    const auto n = static_cast<std::size_t>(count);
    const auto slots = static_cast<std::size_t>(x_max - x_min + 2);
    const std::size_t words = slots / 64 + 1;
    const std::size_t runs = 2 * (slots / kLongRun + 1);
    uint8_t* scratch = ScratchCoverageScan(
        n * sizeof(SampledEdge) + 4 * n * sizeof(int32_t) +
        (static_cast<std::size_t>(sub_rows) + 1) * sizeof(int32_t) + 2 * slots * sizeof(int32_t) +
        (words + runs) * sizeof(uint64_t) + slots);
    if (scratch == nullptr) {
        return false;
    }
    // The 64-bit words go first, so that they stay aligned.
    auto* edges = reinterpret_cast<SampledEdge*>(scratch);
    auto* touched = reinterpret_cast<uint64_t*>(edges + n);
    auto* full = reinterpret_cast<int64_t*>(touched + words);
    auto* order = reinterpret_cast<int32_t*>(full + runs);
    auto* active = order + n;
    auto* merged = active + n;
    auto* batch = merged + n;
    auto* starts = batch + n; // edges starting before each sub-row, then at each
    auto* heights = starts + sub_rows + 1;
    auto* areas = heights + slots;
    auto* alpha = reinterpret_cast<uint8_t*>(areas + slots);
    std::fill(starts, starts + sub_rows + 1, 0);
    std::fill(heights, heights + slots, 0);
    std::fill(areas, areas + slots, 0);
    std::fill(touched, touched + words, 0);

    // Each edge's sub-rows and its position at the first one's centre.
    const CoverageEdge* source = builder.Edges();
    const auto large = [](FixedPoint p) {
        return p.x < -kLargest || p.x > kLargest || p.y < -kLargest || p.y > kLargest;
    };
    int64_t kept = 0;
    for (int64_t i = 0; i < count; ++i) {
        const CoverageEdge& c = source[i];
        if (large(c.p1) || large(c.p2)) {
            return false;
        }
        const int64_t top = std::max<int64_t>((kSubRows * c.top + 128) >> 8, 0);
        const int64_t bottom = std::min<int64_t>((kSubRows * c.bottom + 128) >> 8, sub_rows);
        if (bottom <= top) {
            continue;
        }
        SampledEdge& e = edges[kept];
        e.top = static_cast<int32_t>(top);
        e.height_left = static_cast<int32_t>(bottom - top);
        FixedPoint p1 = c.p1;
        FixedPoint p2 = c.p2;
        e.dir = c.dir;
        if (p2.y <= p1.y) {
            std::swap(p1, p2);
            e.dir = -e.dir;
        }
        if (p1.x == p2.x) {
            e = SampledEdge{p1.x,          0,     0,   0, 0, 0, kVerticalDy, p1.x, e.top,
                            e.height_left, e.dir, true};
        } else {
            const int64_t ex = (p2.x - p1.x) * kCellWidth;
            const int64_t ey = (p2.y - p1.y) * kSubRows * 2 * kFixedOne;
            e.vertical = false;
            e.step = FloorDivide(ex * 2 * kFixedOne, ey);
            e.step_rem = ex * 2 * kFixedOne - e.step * ey;
            const int64_t along = ((2 * top + 1) * kFixedOne - p1.y * kSubRows * 2) * ex;
            e.x = along / ey + p1.x;
            e.x_rem = along % ey;
            if (e.x_rem < 0) {
                --e.x;
                e.x_rem += ey;
            } else if (e.x_rem >= ey) {
                ++e.x;
                e.x_rem -= ey;
            }
            if (e.height_left >= kSubRows) {
                e.row_step = FloorDivide(ex * 2 * kSubRows * kFixedOne, ey);
                e.row_rem = ex * 2 * kSubRows * kFixedOne - e.row_step * ey;
            } else {
                e.row_step = 0;
                e.row_rem = 0;
            }
            e.dy = ey;
            e.cell = Nearest(e.x, e.x_rem, e.dy);
        }
        ++starts[top + 1];
        ++kept;
    }
    // Edges by first sub-row, in the order they were added within one.
    for (int64_t s = 1; s <= sub_rows; ++s) {
        starts[s] += starts[s - 1];
    }
    for (int64_t i = 0; i < kept; ++i) {
        order[starts[edges[i].top]++] = static_cast<int32_t>(i);
    }
    // starts[s] is now where the edges after sub-row s begin.
    const auto edges_before = [&](int64_t s) { return s > 0 ? starts[s - 1] : 0; };

    const Cells cells{heights, areas, touched, x_min, x_max - x_min + 1};
    Converter converter(edges, active, merged, batch, cells, alpha, full, even_odd ? 1u : ~0u);
    int64_t next = 0; // the first edge not yet taken
    for (int64_t row = 0; row < height;) {
        const int64_t row_top = row * kSubRows;
        const int64_t row_end = edges_before(row_top + kSubRows);
        int64_t last_start = 0;
        for (int64_t k = next; k < row_end; ++k) {
            const SampledEdge& e = edges[order[k]];
            converter.NoteNew(e);
            last_start = std::max<int64_t>(last_start, e.top - row_top);
        }
        bool whole_row = false;
        if (last_start == 0) {
            if (next < row_end) {
                converter.Merge(order + next, row_end - next);
            }
            next = row_end;
            if (converter.Empty()) {
                converter.Emptied();
                if (next == kept) {
                    break;
                }
                row = edges[order[next]].top / kSubRows;
                continue;
            }
            whole_row = converter.CanDoFullRow();
        }
        int64_t rows = 1;
        if (whole_row) {
            converter.FullRow();
            const int64_t no_new = (next < kept ? edges[order[next]].top / kSubRows : height);
            rows += converter.SameRows(no_new - row - 1);
        } else {
            for (int64_t sub = 0; sub < kSubRows; ++sub) {
                const int64_t to = edges_before(row_top + sub + 1);
                if (next < to) {
                    converter.Merge(order + next, to - next);
                    next = to;
                }
                converter.SubRow();
            }
        }
        converter.Emit(row, row + rows, sink);
        converter.EndRow();
        row += rows;
    }
    return true;
}

} // namespace gdiplus_cairo
