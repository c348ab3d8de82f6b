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

// The bounding box of at least one point.
Box Extent(const Gdiplus::Point* points, INT count);

// The device pixels that a world box moved by the pixel centre shift touches, one more on each
// side, within the clip. Empty when nothing of it shows.
DeviceArea VisibleArea(cairo_t* cr, const Box& world, double shift);

// Fills edges given in 256ths of a device pixel from the area's corner, the area standing for the
// whole surface, with the brush or, where it is null, the colour: aliased or smoothed as the
// graphics asks. False, with nothing drawn, when scratch memory is lacking or the brush is of no
// known kind.
bool FillEdges(Gdiplus::GpGraphics& graphics, const Gdiplus::GpBrush* brush, Gdiplus::ARGB colour,
               const EdgeList& edges, bool even_odd, const DeviceArea& area);

// A rectangle and a polygon in world coordinates, filled with a brush as the graphics asks: aliased
// or smoothed, the polygon by the even-odd or the non-zero rule. False, with nothing drawn, when
// scratch memory is lacking or the brush is of no known kind.
bool FillRectangle(Gdiplus::GpGraphics& graphics, const Gdiplus::GpBrush& brush, INT x, INT y,
                   INT width, INT height);
bool FillPolygon(Gdiplus::GpGraphics& graphics, const Gdiplus::GpBrush& brush,
                 const Gdiplus::Point* points, INT count, bool even_odd);

} // namespace gdiplus_cairo
