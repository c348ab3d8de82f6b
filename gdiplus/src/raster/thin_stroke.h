// The outline of a smoothed one-pixel pen along polylines: square caps, so that the end points
// are covered as an aliased line covers them, and miter joins that fall back to bevels beyond a
// miter length of ten half-widths. Filled under the non-zero rule, the outline is the stroke.
#pragma once

#include "scan_converter.h"

#include <cstdint>

namespace gdiplus_cairo {

class ThinStroke {
public:
    // Room for a path of up to `points` MoveTo and LineTo calls; false when the scratch memory
    // cannot be had. The outline's edges go to `edges`.
    bool Begin(int64_t points, EdgeList& edges);
    void MoveTo(double x, double y);
    void LineTo(double x, double y);
    // Outlines the last sub-path.
    void Finish();

private:
    struct Point {
        double x, y;
    };
    void Outline();
    void Join(Point at, Point in, Point out);

    EdgeList* m_edges = nullptr;
    Point* m_path = nullptr; // the sub-path's points, none equal to the one before
    int64_t m_count = 0;
    FixedPoint* m_left = nullptr; // the outline's two sides, start to end
    FixedPoint* m_right = nullptr;
    int64_t m_sides = 0;
};

} // namespace gdiplus_cairo
