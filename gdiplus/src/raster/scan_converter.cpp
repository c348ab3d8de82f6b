#include "scan_converter.h"

#include "scratch.h"

#include <algorithm>
#include <cstring>

namespace gdiplus_cairo {

namespace {

// Stretches of full coverage at least this long are marked for the coverage sink.
constexpr int64_t kLongRun = 16;

struct EdgeTag;
struct ActiveTag;
struct MergedTag;
struct FreshTag;
struct StartTag;
struct OrderTag;
struct CellTag;
struct TouchedTag;
struct AlphaTag;
struct BoundsTag;

// Pixel columns marked in a bitset, 64 a word.
void Mark(uint64_t* marks, int64_t column) {
    marks[column >> 6] |= uint64_t(1) << (column & 63);
}

// Hands each marked column to visit(column), left to right, and clears the marks.
template <class Visit> void TakeMarked(uint64_t* marks, std::size_t words, const Visit& visit) {
    for (std::size_t word = 0; word < words; ++word) {
        for (uint64_t bits = marks[word]; bits != 0; bits &= bits - 1) {
            visit(static_cast<int64_t>(word * 64) + __builtin_ctzll(bits));
        }
        marks[word] = 0;
    }
}

// Sample column k of a grid with `across` samples a pixel lies at (k + 1/2) / across pixels,
// sample row s at (s + 1/2) / down.
struct Grid {
    int64_t across, down;
    int64_t ColumnStep() const { return kFixedOne / across; }
    int64_t RowStep() const { return kFixedOne / down; }
};

// An edge as the converter steps it down the sample rows: the first sample column at or right of
// it is q + (r != 0), with its exact position (q + r / d) in sample columns, 0 <= r < d. Each
// sample row adds q_step + r_step / d.
struct SteppedEdge {
    int64_t q, r, q_step, r_step, d;
    int64_t first_row, end_row; // sample rows [first_row, end_row)
    int dir;

    void Step() {
        q += q_step;
        r += r_step;
        const bool carry = r >= d;
        q += carry;
        r -= carry ? d : 0;
    }
};

// Walks the edges' sample rows from top to bottom. For each row, hands every stretch of inside
// samples [k0, k1), k0 < k1, in sample columns clamped to the surface, to visit(row, k0, k1) and
// after the row calls row_done(row). Unsorted, it hands each edge's crossing instead, in no
// order, to visit(column, dir), and leaves the fill rule to row_done.
template <bool kSorted, class Visit, class RowDone>
bool Scan(const EdgeList& list, bool even_odd, const Grid& grid, int64_t width, int64_t height,
          const Visit& visit, const RowDone& row_done) {
    if (!list.Valid()) {
        return false;
    }
    const int64_t count = list.Count();
    const int64_t rows = height * grid.down;
    const int64_t columns = width * grid.across;
    if (count == 0 || rows <= 0 || columns <= 0) {
        return true;
    }
    const auto n = static_cast<std::size_t>(count);
    auto* edges = Scratch<SteppedEdge, EdgeTag>::Get(n);
    // The edges on the current sample row by column, with their columns at hand for the sort.
    struct Active {
        int64_t column;
        int32_t index;
    };
    auto* active = Scratch<Active, ActiveTag>::Get(n);
    auto* merged = Scratch<Active, MergedTag>::Get(n);
    auto* fresh = Scratch<Active, FreshTag>::Get(n);
    const auto by_column = [](const Active& a, const Active& b) { return a.column < b.column; };
    auto* order = Scratch<int32_t, OrderTag>::Get(n);
    auto* starts = Scratch<int64_t, StartTag>::Get(static_cast<std::size_t>(rows) + 1);
    if (edges == nullptr || active == nullptr || merged == nullptr || fresh == nullptr ||
        order == nullptr || starts == nullptr) {
        return false;
    }
    std::fill(starts, starts + rows + 1, 0);
    const int64_t sx = grid.ColumnStep();
    const int64_t sy = grid.RowStep();
    int64_t kept = 0;
    for (int64_t i = 0; i < count; ++i) {
        const Edge& source = list.Edges()[i];
        // Sample row s lies at sy s + sy / 2 in 256ths: the rows in [top, bottom).
        const int64_t first = std::max<int64_t>(CeilDivide(source.top.y - sy / 2, sy), 0);
        const int64_t end = std::min<int64_t>(CeilDivide(source.bottom.y - sy / 2, sy), rows);
        if (first >= end) {
            continue;
        }
        // In sample columns the edge lies at (x - sx / 2) / sx; at row y, x = top.x + (y -
        // top.y) dx / dy.
        const int64_t dx = source.bottom.x - source.top.x;
        const int64_t dy = source.bottom.y - source.top.y;
        SteppedEdge& e = edges[kept++];
        e.d = sx * dy;
        // Far-off points can take this product past 64 bits; the quotient and the remainder stay
        // within them. Most edges are near and short: they divide in 64 bits and, within one
        // sample row, never step.
        const __int128 start = __int128{source.top.x - sx / 2} * dy +
                               __int128{first * sy + sy / 2 - source.top.y} * dx;
        const auto narrow = static_cast<int64_t>(start);
        e.q = narrow == start ? FloorDivide(narrow, e.d)
                              : static_cast<int64_t>(FloorDivide<__int128>(start, e.d));
        e.r = static_cast<int64_t>(start - __int128{e.q} * e.d);
        e.q_step = end - first > 1 ? FloorDivide(sy * dx, e.d) : 0;
        e.r_step = end - first > 1 ? sy * dx - e.q_step * e.d : 0;
        e.first_row = first;
        e.end_row = end;
        e.dir = source.dir;
        ++starts[first + 1];
    }
    // Edges by first sample row.
    for (int64_t s = 1; s <= rows; ++s) {
        starts[s] += starts[s - 1];
    }
    for (int64_t i = 0; i < kept; ++i) {
        order[starts[edges[i].first_row]++] = static_cast<int32_t>(i);
    }
    // starts[s] is now where the edges that start after sample row s begin in `order`.
    const unsigned mask = even_odd ? 1u : ~0u;
    int64_t next = 0; // the first edge in `order` not yet active
    int64_t live = 0; // active[0, live) are the row's edges, by column
    const auto column_of = [columns](const SteppedEdge& e) {
        return std::clamp<int64_t>(e.q + (e.r != 0), 0, columns);
    };
    for (int64_t s = 0; s < rows; ++s) {
        if (live == 0) {
            // Nothing until the next edge starts: the pixel row that the last edges ended in is
            // done, unless that edge starts in it too.
            const int64_t resume = next < kept ? edges[order[next]].first_row : rows;
            if (s % grid.down != 0 && resume / grid.down != (s - 1) / grid.down) {
                row_done(s - 1);
            }
            if (next == kept) {
                break;
            }
            s = std::max(s, resume);
        }
        // The stepped edges change their order little from row to row; the new ones are sorted
        // apart and merged in.
        for (int64_t k = 1; kSorted && k < live; ++k) {
            const Active moving = active[k];
            int64_t at = k;
            for (; at > 0 && active[at - 1].column > moving.column; --at) {
                active[at] = active[at - 1];
            }
            active[at] = moving;
        }
        if (next < starts[s]) {
            int64_t arrived = 0;
            for (; next < starts[s]; ++next) {
                fresh[arrived++] = Active{column_of(edges[order[next]]), order[next]};
            }
            if (kSorted) {
                std::sort(fresh, fresh + arrived, by_column);
                std::merge(active, active + live, fresh, fresh + arrived, merged, by_column);
                std::swap(active, merged);
            } else {
                std::copy(fresh, fresh + arrived, active + live);
            }
            live += arrived;
        }
        int winding = 0;
        int64_t start = 0;
        int64_t still = 0;
        for (int64_t k = 0; k < live; ++k) {
            const Active a = active[k];
            SteppedEdge& e = edges[a.index];
            if constexpr (kSorted) {
                const bool was_inside = (static_cast<unsigned>(winding) & mask) != 0;
                winding += e.dir;
                const bool inside = (static_cast<unsigned>(winding) & mask) != 0;
                if (inside != was_inside) {
                    if (inside) {
                        start = a.column;
                    } else if (a.column > start) {
                        visit(s, start, a.column);
                    }
                }
            } else {
                visit(a.column, e.dir);
            }
            if (s + 1 < e.end_row) {
                e.Step();
                active[still++] = Active{column_of(e), a.index};
            }
        }
        live = still;
        if ((s + 1) % grid.down == 0) {
            row_done(s);
        }
    }
    return true;
}

} // namespace

EdgeList::EdgeList()
    : m_edges(Scratch<Edge, EdgeList>::Get(64)), m_capacity(m_edges != nullptr ? 64 : 0) {}

bool EdgeList::Grow() {
    if (m_edges == nullptr) {
        return false;
    }
    m_edges = Scratch<Edge, EdgeList>::Get(static_cast<std::size_t>(2 * m_capacity));
    m_capacity = m_edges != nullptr ? 2 * m_capacity : 0;
    return m_edges != nullptr;
}

void EdgeList::AddPolygon(const FixedPoint* points, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        Add(points[i], points[i + 1 == count ? 0 : i + 1]);
    }
}

bool CoverSmoothed(const EdgeList& edges, bool even_odd, int64_t width, int64_t height,
                   CoverageSink& sink) {
    constexpr Grid kBox{8, 4};
    constexpr int32_t kFull = kBox.across * kBox.down;
    // Per pixel of the row: inside samples of the pixel's own (partial) and, as differences from
    // the pixel before, of whole sample rows across it, with a bit for each pixel where either
    // changes. Between those pixels the coverage stays as it was.
    const auto slots = static_cast<std::size_t>(width) + 1;
    const std::size_t words = slots / 64 + 1;
    auto* partial = Scratch<int32_t, CellTag>::Get(2 * slots);
    auto* touched = Scratch<uint64_t, TouchedTag>::Get(words);
    auto* alpha = Scratch<uint8_t, AlphaTag>::Get(slots);
    auto* full = Scratch<int64_t, BoundsTag>::Get(2 * (slots / kLongRun + 1));
    if (partial == nullptr || touched == nullptr || alpha == nullptr || full == nullptr) {
        return false;
    }
    int32_t* const whole = partial + slots;
    std::fill(partial, partial + 2 * slots, 0);
    std::fill(touched, touched + words, 0);
    const auto touch = [touched](int64_t x) { Mark(touched, x); };
    const auto spans = [&](int64_t, int64_t k0, int64_t k1) {
        const int64_t p0 = k0 >> 3;
        const int64_t p1 = k1 >> 3;
        touch(p0);
        if (p0 == p1) {
            partial[p0] += static_cast<int32_t>(k1 - k0);
            return;
        }
        partial[p0] += static_cast<int32_t>(8 - (k0 & 7));
        whole[p0 + 1] += 8;
        whole[p1] -= 8;
        partial[p1] += static_cast<int32_t>(k1 & 7);
        touch(p0 + 1);
        touch(p1);
    };
    const auto row_done = [&](int64_t s) {
        int64_t first = -1; // the first pixel with coverage
        int64_t next = 0;   // the pixel after the last one written
        int32_t across = 0;
        int64_t runs = 0;
        int64_t run_start = -1;
        // Pixels next..to - 1, all with `inside` samples inside.
        const auto stretch = [&](int64_t to, int32_t inside) {
            if (first < 0) {
                if (inside == 0) {
                    next = to;
                    return;
                }
                first = next;
            }
            if (to == next + 1) {
                alpha[next] = SmoothedAlpha(inside);
            } else {
                std::memset(alpha + next, SmoothedAlpha(inside),
                            static_cast<std::size_t>(to - next));
            }
            if (inside == kFull) {
                run_start = run_start < 0 ? next : run_start;
            } else {
                if (run_start >= 0 && next - run_start >= kLongRun) {
                    full[2 * runs] = run_start - first;
                    full[2 * runs + 1] = next - first;
                    ++runs;
                }
                run_start = -1;
            }
            next = to;
        };
        TakeMarked(touched, words, [&](int64_t x) {
            if (x > next) {
                stretch(x, across);
            }
            across += whole[x];
            if (x < width) {
                stretch(x + 1, across + partial[x]);
            }
            whole[x] = 0;
            partial[x] = 0;
        });
        if (first < 0) {
            return;
        }
        stretch(next + 1, 0); // closes the last run of full coverage
        sink.Row(s / kBox.down, first, alpha + first, next - 1 - first, full, runs);
    };
    return Scan<true>(edges, even_odd, kBox, width, height, spans, row_done);
}

bool ScanAliased(const EdgeList& edges, bool even_odd, int64_t width, int64_t height,
                 RunSink& sink) {
    // A row's crossings need no sorting: each adds its winding to its column and marks it, and
    // the marked columns are then visited in order. A pixel is inside from a crossing's column on.
    const auto slots = static_cast<std::size_t>(width) + 1;
    const std::size_t words = slots / 64 + 1;
    auto* changes = Scratch<int32_t, CellTag>::Get(slots);
    auto* crossed = Scratch<uint64_t, TouchedTag>::Get(words);
    auto* bounds = Scratch<int64_t, BoundsTag>::Get(slots);
    if (changes == nullptr || crossed == nullptr || bounds == nullptr) {
        return false;
    }
    std::fill(changes, changes + slots, 0);
    std::fill(crossed, crossed + words, 0);
    const auto cross = [&](int64_t column, int dir) {
        changes[column] += dir;
        Mark(crossed, column);
    };
    const unsigned mask = even_odd ? 1u : ~0u;
    const auto row_done = [&](int64_t row) {
        int64_t count = 0;
        int32_t winding = 0;
        TakeMarked(crossed, words, [&](int64_t column) {
            const bool was_inside = (static_cast<unsigned>(winding) & mask) != 0;
            winding += changes[column];
            changes[column] = 0;
            if (was_inside != ((static_cast<unsigned>(winding) & mask) != 0)) {
                bounds[count++] = column; // a run starts or ends
            }
        });
        if (count > 0) {
            sink.Row(row, bounds, count / 2);
        }
    };
    return Scan<false>(edges, even_odd, Grid{1, 1}, width, height, cross, row_done);
}

} // namespace gdiplus_cairo
