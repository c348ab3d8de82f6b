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
    // The next point of either side of the outline, which runs along the left side from the
    // start and back along the right side: each adds its edge from the side's point before.
    void Left(FixedPoint point);
    void Right(FixedPoint point);

    EdgeList* m_edges = nullptr;
    Point* m_path = nullptr; // the sub-path's points, none equal to the one before
    int64_t m_count = 0;
    FixedPoint m_left{0, 0}; // the sides' last points
    FixedPoint m_right{0, 0};
};

} // namespace gdiplus_cairo
