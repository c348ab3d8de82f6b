// A test seam: records every flat call made through the drawing layer, in order, with the objects
// and numbers it was given and the status it returned. Storage is reserved by Start, so recording
// allocates nothing while the calls run; calls or points beyond the reservation are dropped and
// reported by Overflowed().
#pragma once

#include "gdiplus.h"

#include <cstddef>
#include <string>
#include <vector>

namespace gdiplus_recording {

struct Call {
    // The flat function, e.g. "GdipFillPolygonI" (a string constant of the layer).
    const char* name;
    // What the call returned (Ok for GdiplusShutdown, which returns nothing).
    Gdiplus::Status status;
    // The object the call acts on: the graphics of a drawing or mode call, the brush of
    // GdipSetLineWrapMode, the object released by a Delete call; null where there is none.
    const void* target;
    // The brush or pen that a drawing call uses.
    const void* tool;
    // The object a Create call handed out (null if it made none).
    const void* created;
    // The numeric arguments in argument order; integers, colours (ARGB) and enumeration values are
    // exact. GdipCreateFromHDC: the handle. GdipCreateSolidFill: colour. GdipCreateLineBrushI: x1,
    // y1, x2, y2, colour1, colour2, wrap mode. GdipCreatePen1: colour, width, unit. The Set calls:
    // the mode. GdipFillRectangleI: x, y, width, height. GdipDrawLineI: x1, y1, x2, y2.
    // GdipFillPolygonI: count, fill mode. GdipDrawLinesI: count. GdiplusStartup: the version and
    // the token handed out. GdiplusShutdown: the token.
    double numbers[8];
    int number_count;
    // GdipFillPolygonI and GdipDrawLinesI with a valid count (3+ and 2+) and non-null points: where
    // the points as given lie in the recording's point store. Otherwise point_count is 0.
    std::size_t first_point;
    std::size_t point_count;
};

// Clears what was recorded and starts recording, reserving room for the given numbers of calls and
// of polygon/polyline points.
void Start(std::size_t max_calls = 4096, std::size_t max_points = 65536);
// Stops recording; what was recorded stays readable until the next Start.
void Stop();
bool IsRecording();
// True if a call or its points did not fit the reservation.
bool Overflowed();

// Copies of what was recorded.
std::vector<Call> Calls();
std::vector<std::string> Names();
std::vector<Gdiplus::Point> PointsOf(const Call& call);

} // namespace gdiplus_recording
