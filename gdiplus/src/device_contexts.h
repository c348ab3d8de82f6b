// The table of surfaces that hosts lend as device contexts.
#pragma once

#include <cairo.h>

typedef struct HDC__* HDC;

namespace gdiplus_cairo {

// The surface lent under the handle, with a reference that the caller releases; null if the handle
// is not currently lent.
cairo_surface_t* AcquireLentSurface(HDC handle);

} // namespace gdiplus_cairo
