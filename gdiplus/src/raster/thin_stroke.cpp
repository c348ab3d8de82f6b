#include "thin_stroke.h"

#include "scratch.h"

#include <cmath>

namespace gdiplus_cairo {

namespace {

constexpr double kHalfWidth = 0.5;
constexpr double kMiterLimit = 10.0;

struct PathTag;
struct LeftTag;
struct RightTag;

} // namespace

bool ThinStroke::Begin(int64_t points, EdgeList& edges) {
    // Every point adds at most three to a side; a lone point four.
    const auto count = static_cast<std::size_t>(points);
    m_path = Scratch<Point, PathTag>::Get(count);
    m_left = Scratch<FixedPoint, LeftTag>::Get(3 * count + 4);
    m_right = Scratch<FixedPoint, RightTag>::Get(3 * count + 4);
    m_edges = &edges;
    m_count = 0;
    return m_path != nullptr && m_left != nullptr && m_right != nullptr;
}

void ThinStroke::MoveTo(double x, double y) {
    Outline();
    m_path[0] = Point{x, y};
    m_count = 1;
}

void ThinStroke::LineTo(double x, double y) {
    if (m_count == 0) {
        MoveTo(x, y);
    } else if (m_path[m_count - 1].x != x || m_path[m_count - 1].y != y) {
        m_path[m_count++] = Point{x, y};
    }
}

void ThinStroke::Finish() {
    Outline();
    m_count = 0;
}

// The sides' points at a joint, `in` and `out` the half-width directions of the segments that
// meet there. The outer side takes the miter's tip, or both corners when the tip lies too far;
// the inner side goes through the joint itself, which the non-zero rule fills over.
void ThinStroke::Join(Point at, Point in, Point out) {
    const double cross = in.x * out.y - in.y * out.x;
    const double dot = (in.x * out.x + in.y * out.y) / (kHalfWidth * kHalfWidth);
    if (cross == 0.0 && dot > 0.0) {
        return; // straight on
    }
    // The left side lies at +90 degrees from the direction (y down); it is inner on a turn there.
    const bool left_outer = cross < 0.0;
    FixedPoint* outer = left_outer ? m_left : m_right;
    FixedPoint* inner = left_outer ? m_right : m_left;
    const double side = left_outer ? 1.0 : -1.0;
    const auto offset = [&](Point direction, double sign) {
        return FixedPoint{FixedFromDouble(at.x - sign * direction.y),
                          FixedFromDouble(at.y + sign * direction.x)};
    };
    int64_t o = m_sides;
    int64_t i = m_sides;
    // The tip lies sqrt(2 / (1 + dot)) half-widths from the joint.
    if (2.0 <= kMiterLimit * kMiterLimit * (1.0 + dot)) {
        const double scale = side / (1.0 + dot);
        outer[o++] = FixedPoint{FixedFromDouble(at.x - (in.y + out.y) * scale),
                                FixedFromDouble(at.y + (in.x + out.x) * scale)};
    } else {
        outer[o++] = offset(in, side);
        outer[o++] = offset(out, side);
    }
    inner[i++] = offset(in, -side);
    inner[i++] = FixedPoint{FixedFromDouble(at.x), FixedFromDouble(at.y)};
    inner[i++] = offset(out, -side);
    // The sides stay the same length: the shorter one repeats its last point.
    while (o < i) {
        outer[o] = outer[o - 1];
        ++o;
    }
    while (i < o) {
        inner[i] = inner[i - 1];
        ++i;
    }
    m_sides = o;
}

void ThinStroke::Outline() {
    if (m_count == 0) {
        return;
    }
    const Point* p = m_path;
    const auto direction = [](Point a, Point b) {
        const double length = std::hypot(b.x - a.x, b.y - a.y);
        return Point{(b.x - a.x) * kHalfWidth / length, (b.y - a.y) * kHalfWidth / length};
    };
    // A lone point: a square of the pen's width about it, as its caps would make.
    const Point first = m_count > 1 ? direction(p[0], p[1]) : Point{kHalfWidth, 0.0};
    const Point last = m_count > 1 ? direction(p[m_count - 2], p[m_count - 1]) : first;
    const auto cap = [](Point at, Point d, double along, double sign) {
        return FixedPoint{FixedFromDouble(at.x + along * d.x - sign * d.y),
                          FixedFromDouble(at.y + along * d.y + sign * d.x)};
    };
    m_sides = 0;
    m_left[m_sides] = cap(p[0], first, -1.0, 1.0);
    m_right[m_sides++] = cap(p[0], first, -1.0, -1.0);
    Point in = first;
    for (int64_t k = 1; k + 1 < m_count; ++k) {
        const Point out = direction(p[k], p[k + 1]);
        Join(p[k], in, out);
        in = out;
    }
    const Point end = p[m_count - 1];
    m_left[m_sides] = cap(end, last, 1.0, 1.0);
    m_right[m_sides++] = cap(end, last, 1.0, -1.0);
    // One closed outline: along the left side, across the end, back along the right side. The
    // edges go over in pairs, one of each side; handed over as each side grew instead, the same
    // edges took a paint of dense material 1.7 times as long to cover.
    for (int64_t k = 1; k < m_sides; ++k) {
        m_edges->Add(m_left[k - 1], m_left[k]);
        m_edges->Add(m_right[k], m_right[k - 1]);
    }
    m_edges->Add(m_left[m_sides - 1], m_right[m_sides - 1]);
    m_edges->Add(m_right[0], m_left[0]);
}

} // namespace gdiplus_cairo
