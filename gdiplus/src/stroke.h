// The outline of an anti-aliased thin-pen stroke of polylines: line width 1, square caps, miter
// joins with limit 10. It reproduces Cairo 1.16's arithmetic for that style, so that the polygon
// is the one Cairo's stroker hands to its scan converter, point for point.
#pragma once

#include "geometry.h"

#include <cstdint>

namespace gdiplus_cairo {

// A device coordinate in Cairo's 24.8 fixed point: nearest 256th, ties to even, kept to 32 bits.
int64_t FixedFromDouble(double value);

class OutlineSink {
public:
    // An open run of edges points[i - 1] -> points[i], each of winding dir (+1 or -1). The runs of
    // one stroke together close up.
    virtual void Contour(const FixedPoint* points, int64_t count, int dir) = 0;

protected:
    ~OutlineSink() = default;
};

// A stroke's path as Cairo keeps it: MoveTo and LineTo take the device points that cairo_move_to
// and cairo_line_to would (the user point after the translation, in fixed point), and keep what
// Cairo's path keeps: a move only once a line follows it, no degenerate segment but a lone one
// after a move, and consecutive segments in the same direction merged into one. Sub-paths stay
// open: the layer never closes a stroked path. Differences of coordinates must stay below 2^31
// 256ths, as in Cairo's 32-bit fixed point.
class StrokePath {
public:
    // Room for calls MoveTo and LineTo calls; false when the scratch memory cannot be had.
    bool Begin(int64_t calls);
    void MoveTo(FixedPoint point);
    void LineTo(FixedPoint point);

    // Whether every segment is horizontal or vertical: Cairo strokes such a path as boxes.
    bool Rectilinear() const { return m_rectilinear; }

    // The stroke's contours, in the order Cairo adds them to its polygon. translated tells whether
    // the transformation is a translation other than zero: Cairo then takes each segment's
    // direction through the inverse matrix and normalises it a second time. Returns false, with
    // nothing produced, for a rectilinear path.
    bool Outline(bool translated, OutlineSink& sink) const;

private:
    struct Entry {
        FixedPoint point;
        bool move;
    };

    Entry* m_entries = nullptr;
    int64_t m_count = 0;
    int64_t m_capacity = 0;
    FixedPoint* m_contours = nullptr; // two contours of m_contour_capacity points each
    int64_t m_contour_capacity = 0;
    FixedPoint m_current{0, 0};
    bool m_has_current = false;
    bool m_needs_move = true;
    bool m_rectilinear = true;
};

} // namespace gdiplus_cairo
