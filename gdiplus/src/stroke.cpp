// Reproduces the arithmetic of Cairo 1.16's polygon stroker for one style, so that the pixels
// match Cairo's exactly. Every double expression keeps Cairo's order of operations; the file is
// compiled without floating-point contraction so that none of them turns into a fused one.
#include "stroke.h"

#include "pixels.h"

#include <cmath>
#include <cstring>

namespace gdiplus_cairo {

int64_t FixedFromDouble(double value) {
    // Adding 1.5 * 2^44 leaves the value in 256ths, rounded, in the low bits of the mantissa.
    const double shifted = value + 26388279066624.0;
    uint64_t bits = 0;
    std::memcpy(&bits, &shifted, sizeof bits);
    return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

namespace {

constexpr double kHalfWidth = 0.5;
constexpr double kMiterLimit = 10.0;

bool Same(const FixedPoint& a, const FixedPoint& b) {
    return a.x == b.x && a.y == b.y;
}

double ToDouble(int64_t fixed) {
    return static_cast<double>(fixed) / 256.0;
}

// Cairo's slope comparison: by angle, and of two opposite directions the first is the smaller.
int CompareSlopes(int64_t adx, int64_t ady, int64_t bdx, int64_t bdy) {
    const int64_t left = ady * bdx;
    const int64_t right = bdy * adx;
    if (left != right) {
        return left < right ? -1 : 1;
    }
    // Zero vectors never reach here: the stroker skips degenerate segments.
    if ((adx ^ bdx) < 0 || (ady ^ bdy) < 0) {
        return adx > 0 || (adx == 0 && ady > 0) ? -1 : 1;
    }
    return 0;
}

int SignOfCross(double dx1, double dy1, double dx2, double dy2) {
    const double c = dx1 * dy2 - dx2 * dy1;
    if (c > 0) {
        return 1;
    }
    if (c < 0) {
        return -1;
    }
    return 0;
}

void Normalise(double& dx, double& dy) {
    if (dx == 0.0) {
        dy = dy > 0.0 ? 1.0 : -1.0;
    } else if (dy == 0.0) {
        dx = dx > 0.0 ? 1.0 : -1.0;
    } else {
        const double length = std::hypot(dx, dy);
        dx = dx / length;
        dy = dy / length;
    }
}

struct Face {
    FixedPoint point, ccw, cw;
    int64_t dx, dy;          // the segment in fixed point
    double slope_x, slope_y; // its unit direction in device space
    double user_x, user_y;   // and in user space
};

Face ComputeFace(FixedPoint point, int64_t dx, int64_t dy, bool translated) {
    Face face;
    face.dx = dx;
    face.dy = dy;
    double x = ToDouble(dx);
    double y = ToDouble(dy);
    Normalise(x, y);
    face.slope_x = x;
    face.slope_y = y;
    // The inverse of a translation leaves a unit vector as it is, but Cairo normalises it again,
    // which can move its last bit.
    if (translated) {
        Normalise(x, y);
    }
    face.user_x = x;
    face.user_y = y;
    const int64_t offset_x = FixedFromDouble(-y * kHalfWidth);
    const int64_t offset_y = FixedFromDouble(x * kHalfWidth);
    face.point = point;
    face.ccw = FixedPoint{point.x + offset_x, point.y + offset_y};
    face.cw = FixedPoint{point.x - offset_x, point.y - offset_y};
    return face;
}

struct Contour {
    FixedPoint* points;
    int64_t count;
    void Add(FixedPoint point) { points[count++] = point; }
    FixedPoint& Last() { return points[count - 1]; }
};

class Stroker {
public:
    Stroker(FixedPoint* cw, FixedPoint* ccw, bool translated, OutlineSink& sink)
        : m_cw{cw, 0}, m_ccw{ccw, 0}, m_translated(translated), m_sink(sink) {}

    void MoveTo(FixedPoint point) {
        AddCaps();
        m_has_first = false;
        m_has_current = false;
        m_current.point = point;
    }

    void LineTo(FixedPoint point) {
        const FixedPoint start_point = m_current.point;
        if (Same(start_point, point)) {
            return;
        }
        const int64_t dx = point.x - start_point.x;
        const int64_t dy = point.y - start_point.y;
        const Face start = ComputeFace(start_point, dx, dy, m_translated);
        if (m_has_current) {
            const int turn = CompareSlopes(m_current.dx, m_current.dy, dx, dy);
            if (turn != 0) {
                OuterJoin(m_current, start, turn < 0);
                InnerJoin(m_current, start, turn < 0);
            }
        } else {
            if (!m_has_first) {
                m_first = start;
                m_has_first = true;
            }
            m_has_current = true;
            m_cw.Add(start.cw);
            m_ccw.Add(start.ccw);
        }
        m_current = start;
        m_current.point = point;
        m_current.ccw.x += dx;
        m_current.ccw.y += dy;
        m_current.cw.x += dx;
        m_current.cw.y += dy;
        m_cw.Add(m_current.cw);
        m_ccw.Add(m_current.ccw);
    }

    // The trailing cap closes the counter-clockwise side, the leading cap is a contour of its
    // own, and the clockwise side runs forward with the opposite winding.
    void AddCaps() {
        if (m_has_current) {
            AddCap(m_current, 1, m_ccw);
        }
        Emit(m_ccw, -1);
        if (m_has_first) {
            Face reversed = m_first;
            reversed.cw = m_first.ccw;
            reversed.ccw = m_first.cw;
            m_ccw.Add(m_first.cw);
            AddCap(reversed, -1, m_ccw);
            Emit(m_ccw, -1);
        }
        Emit(m_cw, 1);
    }

private:
    void Emit(Contour& contour, int dir) {
        if (contour.count > 1) {
            m_sink.Contour(contour.points, contour.count, dir);
        }
        contour.count = 0;
    }

    // A square cap reaches half the width beyond the face along its direction (reversed for the
    // leading cap).
    static void AddCap(const Face& face, double sign, Contour& contour) {
        const int64_t x = FixedFromDouble(sign * face.user_x * kHalfWidth);
        const int64_t y = FixedFromDouble(sign * face.user_y * kHalfWidth);
        contour.Add(FixedPoint{face.ccw.x + x, face.ccw.y + y});
        contour.Add(FixedPoint{face.cw.x + x, face.cw.y + y});
        contour.Add(face.cw);
    }

    void OuterJoin(const Face& in, const Face& out, bool clockwise) {
        if (Same(in.cw, out.cw) && Same(in.ccw, out.ccw)) {
            return;
        }
        const FixedPoint& in_point = clockwise ? in.cw : in.ccw;
        const FixedPoint& out_point = clockwise ? out.cw : out.ccw;
        Contour& outer = clockwise ? m_cw : m_ccw;
        const double in_dot_out = in.slope_x * out.slope_x + in.slope_y * out.slope_y;
        if (2 <= kMiterLimit * kMiterLimit * (1 + in_dot_out)) {
            // The corner is where the two outer edges meet.
            const double x1 = ToDouble(in_point.x);
            const double y1 = ToDouble(in_point.y);
            const double dx1 = in.slope_x;
            const double dy1 = in.slope_y;
            const double x2 = ToDouble(out_point.x);
            const double y2 = ToDouble(out_point.y);
            const double dx2 = out.slope_x;
            const double dy2 = out.slope_y;
            const double my = (((x2 - x1) * dy1 * dy2 - y2 * dx2 * dy1 + y1 * dx1 * dy2) /
                               (dx1 * dy2 - dx2 * dy1));
            const double mx = std::fabs(dy1) >= std::fabs(dy2) ? (my - y1) * dx1 / dy1 + x1
                                                               : (my - y2) * dx2 / dy2 + x2;
            // Edges nearly parallel can put that corner outside the two faces after rounding:
            // then the join stays bevelled.
            const double ix = ToDouble(in.point.x);
            const double iy = ToDouble(in.point.y);
            const double mdx = mx - ix;
            const double mdy = my - iy;
            if (SignOfCross(x1 - ix, y1 - iy, mdx, mdy) !=
                SignOfCross(x2 - ix, y2 - iy, mdx, mdy)) {
                outer.Last() = FixedPoint{FixedFromDouble(mx), FixedFromDouble(my)};
                return;
            }
        }
        outer.Add(out_point);
    }

    // The inner side goes through the joint itself.
    void InnerJoin(const Face& in, const Face& out, bool clockwise) {
        Contour& inner = clockwise ? m_ccw : m_cw;
        inner.Add(in.point);
        inner.Add(clockwise ? out.ccw : out.cw);
    }

    Contour m_cw, m_ccw;
    bool m_translated;
    OutlineSink& m_sink;
    bool m_has_first = false;
    bool m_has_current = false;
    Face m_first{};
    Face m_current{};
};

} // namespace

bool StrokePath::Begin(int64_t calls) {
    // Each call keeps at most one entry; a segment adds at most three points to a side, and the
    // caps four.
    const int64_t contour_capacity = 3 * calls + 8;
    const std::size_t entry_bytes = static_cast<std::size_t>(calls) * sizeof(Entry);
    const std::size_t aligned = (entry_bytes + 15) & ~std::size_t{15};
    uint8_t* scratch = ScratchStroke(aligned + 2 * static_cast<std::size_t>(contour_capacity) *
                                                   sizeof(FixedPoint));
    m_count = 0;
    m_has_current = false;
    m_needs_move = true;
    m_rectilinear = true;
    if (scratch == nullptr) {
        m_capacity = 0;
        return false;
    }
    m_entries = reinterpret_cast<Entry*>(scratch);
    m_capacity = calls;
    m_contours = reinterpret_cast<FixedPoint*>(scratch + aligned);
    m_contour_capacity = contour_capacity;
    return true;
}

void StrokePath::MoveTo(FixedPoint point) {
    m_needs_move = true;
    m_has_current = true;
    m_current = point;
}

void StrokePath::LineTo(FixedPoint point) {
    if (!m_has_current) {
        MoveTo(point);
        return;
    }
    if (m_needs_move) {
        m_needs_move = false;
        m_entries[m_count++] = Entry{m_current, true};
    }
    const Entry& last = m_entries[m_count - 1];
    if (!last.move) {
        if (Same(point, m_current)) {
            return;
        }
        const FixedPoint& before = m_entries[m_count - 2].point;
        if (Same(before, m_current)) {
            // A lone degenerate segment after the move gives way to this one.
            --m_count;
        } else {
            const int64_t pdx = m_current.x - before.x;
            const int64_t pdy = m_current.y - before.y;
            const int64_t dx = point.x - m_current.x;
            const int64_t dy = point.y - m_current.y;
            if (pdy * dx == dy * pdx && pdx * dx + pdy * dy >= 0) {
                --m_count;
            }
        }
    }
    m_rectilinear = m_rectilinear && (m_current.x == point.x || m_current.y == point.y);
    m_current = point;
    m_entries[m_count++] = Entry{point, false};
}

bool StrokePath::Outline(bool translated, OutlineSink& sink) const {
    if (m_rectilinear) {
        return false;
    }
    Stroker stroker(m_contours, m_contours + m_contour_capacity, translated, sink);
    for (int64_t i = 0; i < m_count; ++i) {
        if (m_entries[i].move) {
            stroker.MoveTo(m_entries[i].point);
        } else {
            stroker.LineTo(m_entries[i].point);
        }
    }
    stroker.AddCaps();
    return true;
}

} // namespace gdiplus_cairo
