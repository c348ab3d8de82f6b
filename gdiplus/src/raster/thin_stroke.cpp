#include "thin_stroke.h"

#include "scratch.h"

#include <cmath>

namespace gdiplus_cairo {

namespace {

constexpr double kHalfWidth = 0.5;
constexpr double kMiterLimit = 10.0;

struct PathTag;

} // namespace

bool ThinStroke::Begin(int64_t points, EdgeList& edges) {
    m_path = Scratch<Point, PathTag>::Get(static_cast<std::size_t>(points));
    m_edges = &edges;
    m_count = 0;
    return m_path != nullptr;
}

void ThinStroke::Left(FixedPoint point) {
    m_edges->Add(m_left, point);
    m_left = point;
}

void ThinStroke::Right(FixedPoint point) {
    m_edges->Add(point, m_right);
    m_right = point;
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
    const double side = left_outer ? 1.0 : -1.0;
    const auto offset = [&](Point direction, double sign) {
        return FixedPoint{FixedFromDouble(at.x - sign * direction.y),
                          FixedFromDouble(at.y + sign * direction.x)};
    };
    const auto outer = [&](FixedPoint point) { left_outer ? Left(point) : Right(point); };
    const auto inner = [&](FixedPoint point) { left_outer ? Right(point) : Left(point); };
    // The tip lies sqrt(2 / (1 + dot)) half-widths from the joint.
    if (2.0 <= kMiterLimit * kMiterLimit * (1.0 + dot)) {
        const double scale = side / (1.0 + dot);
        outer(FixedPoint{FixedFromDouble(at.x - (in.y + out.y) * scale),
                         FixedFromDouble(at.y + (in.x + out.x) * scale)});
    } else {
        outer(offset(in, side));
        outer(offset(out, side));
    }
    inner(offset(in, -side));
    inner(FixedPoint{FixedFromDouble(at.x), FixedFromDouble(at.y)});
    inner(offset(out, -side));
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
    m_left = cap(p[0], first, -1.0, 1.0);
    m_right = cap(p[0], first, -1.0, -1.0);
    m_edges->Add(m_right, m_left); // across the start
    Point in = first;
    for (int64_t k = 1; k + 1 < m_count; ++k) {
        const Point out = direction(p[k], p[k + 1]);
        Join(p[k], in, out);
        in = out;
    }
    const Point end = p[m_count - 1];
    Left(cap(end, last, 1.0, 1.0));
    Right(cap(end, last, 1.0, -1.0));
    m_edges->Add(m_left, m_right); // across the end
}

} // namespace gdiplus_cairo
