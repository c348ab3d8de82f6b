// Filled shapes: the layer's scan converter finds the pixels or their coverage, and the brush's
// colours go straight into an image's pixels, or through Cairo as a mask on any other target.
#pragma once

#include "native_objects.h"
#include "raster/scan_converter.h"

namespace gdiplus_cairo {

// A part of the device, in whole pixels.
struct DeviceArea {
    int64_t x, y, width, height;
};

// The device pixels that a world box moved by the pixel centre shift touches, one more on each
// side, within the clip. Empty when nothing of it shows.
DeviceArea VisibleArea(cairo_t* cr, const Box& world, double shift);

// Fills edges given in 256ths of a device pixel from the area's corner, the area standing for the
// whole surface, with a brush: aliased or smoothed as the graphics asks. False, with nothing
// drawn, when scratch memory is lacking or the brush is of no known kind.
bool FillEdges(Gdiplus::GpGraphics& graphics, const Gdiplus::GpBrush& brush, const EdgeList& edges,
               bool even_odd, const DeviceArea& area);

// The same with one colour.
bool FillEdges(Gdiplus::GpGraphics& graphics, Gdiplus::ARGB colour, const EdgeList& edges,
               bool even_odd, const DeviceArea& area);

// A world path's sub-paths, moved by (dx, dy), as edges in 256ths; each sub-path closes.
class EdgePath {
public:
    EdgePath(EdgeList& edges, double dx, double dy) : m_edges(edges), m_dx(dx), m_dy(dy) {}
    void MoveTo(double x, double y);
    void LineTo(double x, double y);
    void ClosePath();

private:
    EdgeList& m_edges;
    double m_dx, m_dy;
    FixedPoint m_first{0, 0};
    FixedPoint m_current{0, 0};
};

} // namespace gdiplus_cairo
