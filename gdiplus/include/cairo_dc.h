// How a host lends a Cairo surface to code that draws through a device context (HDC).
//
// The layer keeps a small table of lent surfaces; a handle is a small positive integer (it fits a
// 32-bit argument) cast to HDC. GdipCreateFromHDC draws into the surface of a handle that is
// currently lent; an unknown or returned handle fails there. The table holds a reference on the
// surface from CairoDcLend to CairoDcReturn, and a Graphics made on it holds its own until deleted.
// Call cairo_surface_flush before reading the pixels and cairo_surface_mark_dirty after writing
// them directly; deleting a Graphics flushes what it drew.
#pragma once

#include <cairo.h>

typedef struct HDC__* HDC;

extern "C" {
// Lends the surface; returns null for a null surface, one in an error state, or a full table.
HDC CairoDcLend(cairo_surface_t* surface);
// Takes the handle back; an unknown or already returned handle is ignored.
void CairoDcReturn(HDC handle);
}
