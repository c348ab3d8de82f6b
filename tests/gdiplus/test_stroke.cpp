#include "geometry.h"
#include "stroke.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

using namespace gdiplus_cairo;

namespace {

struct Command {
    bool move;
    double x, y;
};

// The polyline's segments as the layer hands them to Cairo: clipped to the clip extents widened
// by the margin, with a new sub-path wherever a start was moved.
std::vector<Command> Commands(const std::vector<std::pair<int, int>>& points, double shift,
                              const Box& view) {
    const Box box =
        SafeBox(Box{view.x1 - shift, view.y1 - shift, view.x2 - shift, view.y2 - shift}, 14.0);
    std::vector<Command> commands;
    bool joined = false;
    for (size_t i = 0; i + 1 < points.size(); ++i) {
        double x1 = points[i].first;
        double y1 = points[i].second;
        double x2 = points[i + 1].first;
        double y2 = points[i + 1].second;
        bool start_moved = false;
        bool end_moved = false;
        if (!ClipSegment(box, x1, y1, x2, y2, start_moved, end_moved)) {
            joined = false;
            continue;
        }
        if (!joined || start_moved) {
            commands.push_back({true, x1, y1});
        }
        commands.push_back({false, x2, y2});
        joined = !end_moved;
    }
    return commands;
}

template <class Draw> std::vector<uint8_t> Render(int width, int height, Draw draw) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, width, height);
    cairo_t* cr = cairo_create(surface);
    draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const uint8_t* data = cairo_image_surface_get_data(surface);
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y) {
        pixels.insert(pixels.end(), data + y * stride, data + y * stride + width);
    }
    cairo_surface_destroy(surface);
    return pixels;
}

std::vector<uint8_t> CairoStroke(const std::vector<Command>& commands, double shift, int width,
                                 int height) {
    return Render(width, height, [&](cairo_t* cr) {
        cairo_translate(cr, shift, shift);
        for (const Command& c : commands) {
            c.move ? cairo_move_to(cr, c.x, c.y) : cairo_line_to(cr, c.x, c.y);
        }
        cairo_set_line_width(cr, 1.0);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
        cairo_set_miter_limit(cr, 10.0);
        cairo_stroke(cr);
    });
}

struct Contours final : OutlineSink {
    void Contour(const FixedPoint* points, int64_t count, int dir) override {
        list.push_back({std::vector<FixedPoint>(points, points + count), dir});
    }
    std::vector<std::pair<std::vector<FixedPoint>, int>> list;
};

// Where Cairo's converter starts an edge: the sub-row (15 to a pixel) and the 256th of a pixel at
// that sub-row's middle, or row -1 for an edge it drops.
std::pair<int64_t, int64_t> Start(FixedPoint a, FixedPoint b) {
    if (a.y > b.y) {
        std::swap(a, b);
    }
    const int64_t top = (15 * a.y + 128) >> 8;
    const int64_t bottom = (15 * b.y + 128) >> 8;
    if (a.y == b.y || bottom <= top) {
        return {-1, 0};
    }
    if (a.x == b.x) {
        return {top, a.x};
    }
    const int64_t ex = (b.x - a.x) * 256;
    const int64_t ey = (b.y - a.y) * 15 * 512;
    const int64_t t = ((2 * top + 1) * 256 - a.y * 30) * ex;
    int64_t quotient = t / ey + a.x;
    int64_t remainder = t % ey;
    if (remainder < 0) {
        --quotient;
        remainder += ey;
    }
    return {top, quotient + (remainder >= ey / 2 ? 1 : 0)};
}

// Cairo's converter sorts the edges that start on one sub-row by position, in the order they came
// in, with a merge sort whose order of ties depends on that order: its result, as edge numbers.
using Started = std::pair<int64_t, int>; // position, edge number
void Merge(const std::vector<Started>& a, const std::vector<Started>& b,
           std::vector<Started>& out) {
    out.clear();
    size_t i = 0;
    size_t j = 0;
    bool from_a = a[0].first <= b[0].first;
    while (i < a.size() && j < b.size()) {
        if (from_a) {
            for (const int64_t x = b[j].first; i < a.size() && a[i].first <= x;) {
                out.push_back(a[i++]);
            }
        } else {
            for (const int64_t x = a[i].first; j < b.size() && b[j].first <= x;) {
                out.push_back(b[j++]);
            }
        }
        from_a = !from_a;
    }
    out.insert(out.end(), a.begin() + i, a.end());
    out.insert(out.end(), b.begin() + j, b.end());
}
size_t SortRun(const std::vector<Started>& list, size_t pos, unsigned level,
               std::vector<Started>& out) {
    if (pos + 1 == list.size()) {
        out = {list[pos]};
        return pos + 1;
    }
    out = {list[pos], list[pos + 1]};
    if (out[0].first > out[1].first) {
        std::swap(out[0], out[1]);
    }
    pos += 2;
    std::vector<Started> other;
    std::vector<Started> merged;
    for (unsigned i = 0; i < level && pos < list.size(); ++i) {
        pos = SortRun(list, pos, i, other);
        Merge(out, other, merged);
        out.swap(merged);
    }
    return pos;
}
std::vector<int> Sorted(const std::vector<Started>& list) {
    std::vector<Started> out;
    if (!list.empty()) {
        SortRun(list, 0, ~0u, out);
    }
    std::vector<int> numbers;
    for (const Started& s : out) {
        numbers.push_back(s.second);
    }
    return numbers;
}

// The outline as a path for cairo_fill, with the same edges. The contours of a sub-path close up:
// each turned to the given winding (Cairo turns every edge top to bottom, so a contour drawn
// backwards gives the same edges with the other winding, and turning every edge leaves the
// nonzero rule's pixels as they are) is chained to the one that starts where it ends, and each
// loop becomes a sub-path that ends where it starts, so the fill adds no closing edge. After each
// point the pen steps sideways and back, horizontally, which adds no edge but keeps the fill from
// merging collinear segments. The chaining must leave the converter's sort of each sub-row's edges
// as it is, or the returned path is empty.
std::vector<std::vector<FixedPoint>> FillPath(const Contours& contours, int winding) {
    struct Piece {
        std::vector<FixedPoint> points;
        std::vector<int> edges; // each segment's index in the stroker's order
    };
    std::vector<Piece> pieces;
    int next_edge = 0;
    std::vector<std::pair<int64_t, int64_t>> starts;
    for (const auto& [points, dir] : contours.list) {
        Piece piece{points, {}};
        for (size_t i = 1; i < points.size(); ++i) {
            piece.edges.push_back(next_edge++);
            starts.push_back(Start(points[i - 1], points[i]));
        }
        if (dir != winding) {
            std::reverse(piece.points.begin(), piece.points.end());
            std::reverse(piece.edges.begin(), piece.edges.end());
        }
        pieces.push_back(piece);
    }
    const auto same = [](FixedPoint a, FixedPoint b) { return a.x == b.x && a.y == b.y; };
    std::vector<bool> used(pieces.size(), false);
    std::vector<std::vector<FixedPoint>> loops;
    std::vector<int> order;
    for (size_t first = 0; first < pieces.size(); ++first) {
        if (used[first]) {
            continue;
        }
        std::vector<FixedPoint> loop{pieces[first].points.front()};
        for (size_t k = first; !same(loop.back(), loop.front()) || k == first;) {
            used[k] = true;
            loop.insert(loop.end(), pieces[k].points.begin() + 1, pieces[k].points.end());
            order.insert(order.end(), pieces[k].edges.begin(), pieces[k].edges.end());
            k = 0;
            while (k < pieces.size() && (used[k] || !same(pieces[k].points.front(), loop.back()))) {
                ++k;
            }
            if (k == pieces.size()) {
                EXPECT_TRUE(same(loop.back(), loop.front())) << "the contours do not close up";
                break;
            }
        }
        loops.push_back(loop);
    }
    std::vector<Started> in_stroker_order;
    std::vector<Started> in_fill_order;
    for (int e = 0; e < next_edge; ++e) {
        const int64_t row = starts[e].first;
        in_stroker_order.clear();
        in_fill_order.clear();
        for (int f = 0; f < next_edge && row >= 0; ++f) {
            if (starts[f].first == row) {
                in_stroker_order.push_back({starts[f].second, f});
            }
            if (starts[order[f]].first == row) {
                in_fill_order.push_back({starts[order[f]].second, order[f]});
            }
        }
        if (Sorted(in_stroker_order) != Sorted(in_fill_order)) {
            return {};
        }
    }
    return loops;
}

std::vector<uint8_t> Fill(const std::vector<std::vector<FixedPoint>>& loops, int width,
                          int height) {
    return Render(width, height, [&](cairo_t* cr) {
        for (const auto& loop : loops) {
            cairo_move_to(cr, loop[0].x / 256.0, loop[0].y / 256.0);
            for (const FixedPoint& p : loop) {
                cairo_line_to(cr, p.x / 256.0, p.y / 256.0);
                cairo_line_to(cr, p.x / 256.0 + 1.0, p.y / 256.0);
                cairo_line_to(cr, p.x / 256.0, p.y / 256.0);
            }
        }
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
        cairo_fill(cr);
    });
}

// Returns false when the path goes Cairo's rectilinear route.
bool Outline(const std::vector<Command>& commands, double shift, Contours& contours) {
    StrokePath path;
    EXPECT_TRUE(path.Begin(static_cast<int64_t>(commands.size())));
    for (const Command& c : commands) {
        const FixedPoint p{FixedFromDouble(c.x + shift), FixedFromDouble(c.y + shift)};
        c.move ? path.MoveTo(p) : path.LineTo(p);
    }
    return path.Outline(shift != 0.0, contours);
}

std::vector<std::pair<int, int>> RandomPolyline(std::mt19937& random, int width, int height) {
    const auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const int kind = uniform(0, 4);
    const int count = uniform(0, 9) == 0 ? uniform(50, 400) : uniform(2, 12);
    std::vector<std::pair<int, int>> points;
    int x = uniform(-5, width + 5);
    int y = uniform(-5, height + 5);
    int dx = uniform(-6, 6);
    int dy = uniform(-6, 6);
    for (int i = 0; i < count; ++i) {
        points.push_back({x, y});
        switch (kind) {
        case 0: // short steps at any angle, repeats included
            x += uniform(-4, 4);
            y += uniform(-4, 4);
            break;
        case 1: // a waveform: one column a step, steep swings
            x += uniform(0, 5) == 0 ? 0 : 1;
            y = uniform(-height / 2, height + height / 2);
            break;
        case 2: // collinear runs and reversals along one direction
            if (uniform(0, 3) == 0) {
                dx = uniform(-6, 6);
                dy = uniform(-6, 6);
            }
            x += dx * uniform(-2, 3);
            y += dy * uniform(-2, 3);
            break;
        case 3: // far points, clipped to the margin
            x = uniform(-3000, 3000);
            y = uniform(-3000, 3000);
            break;
        default: // long segments meeting at very shallow or very sharp angles
            x += (i % 2 == 0 ? 1 : -1) * uniform(15, 60) * (uniform(0, 1) ? 1 : -1);
            y += uniform(-2, 2);
            if (uniform(0, 1)) {
                std::swap(x, y);
            }
            break;
        }
    }
    return points;
}

TEST(Stroke, OutlineFillsCairosStrokePixels) {
    std::mt19937 random(20261208);
    // The view the polyline is clipped to lies inside the surface, with room for the margin, so
    // that no edge reaches the surface's sides, where Cairo would cut them.
    const int inset = 24;
    const int width = 48 + 2 * inset;
    const int height = 40 + 2 * inset;
    const Box view{inset, inset, width - inset, height - inset};
    int compared = 0;
    int rectilinear = 0;
    int unordered = 0;
    for (int n = 0; n < 20000; ++n) {
        const double shift = n % 2 == 0 ? 0.5 : 0.0;
        auto points = RandomPolyline(random, width - 2 * inset, height - 2 * inset);
        for (auto& [x, y] : points) {
            x += inset;
            y += inset;
        }
        const auto commands = Commands(points, shift, view);
        Contours contours;
        if (!Outline(commands, shift, contours)) {
            ++rectilinear;
            continue;
        }
        auto loops = FillPath(contours, 1);
        if (loops.empty()) {
            loops = FillPath(contours, -1);
        }
        if (loops.empty() && !contours.list.empty()) {
            ++unordered;
            continue;
        }
        ++compared;
        ASSERT_EQ(CairoStroke(commands, shift, width, height), Fill(loops, width, height))
            << "case " << n;
    }
    // A fill cannot always keep the order of edges that tie on a sub-row; those cases are few.
    EXPECT_GT(compared, 18000);
    EXPECT_GT(rectilinear, 200);
    EXPECT_LT(unordered, 600);
}

TEST(Stroke, OnlyAPathOfAxisAlignedSegmentsIsRectilinear) {
    Contours contours;
    EXPECT_FALSE(Outline({{true, 1, 1}, {false, 9, 1}, {false, 9, 7}, {true, 3, 3}, {false, 3, 3}},
                         0.5, contours));
    EXPECT_TRUE(Outline({{true, 1, 1}, {false, 9, 1}, {true, 3, 3}, {false, 4, 5}}, 0.5, contours));
}

} // namespace
