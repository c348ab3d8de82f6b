// Lines drawn with a pen: GDI+'s aliased thin line pixel by pixel, a smoothed thin pen through
// the layer's scan converter, anything wider by Cairo's stroker.
#pragma once

#include "native_objects.h"

namespace gdiplus_cairo {

// False, having drawn nothing or part, when the working memory for the line cannot be had.
bool DrawPolyline(Gdiplus::GpGraphics& graphics, const Gdiplus::GpPen& pen,
                  const Gdiplus::Point* points, INT count);

} // namespace gdiplus_cairo
