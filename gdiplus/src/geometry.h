// Geometry that keeps Cairo within its fixed-point range and draws GDI+'s aliased thin lines. Pure
// functions over doubles and 64-bit integers; the results go to a sink.
#pragma once

#include <cstdint>

namespace gdiplus_cairo {

// Cairo keeps coordinates in 24.8 fixed point (about +-8.4 million); everything handed to it stays
// within +-2^22, far outside any real surface and well inside that range.
constexpr double kCoordinateLimit = 4194304.0;

struct Box {
    double x1, y1, x2, y2;
};

// Intersects the box with +-kCoordinateLimit after widening it by margin on each side.
Box SafeBox(Box box, double margin);

// The part of a that lies within b; x1 >= x2 or y1 >= y2 when they do not meet.
Box Intersection(const Box& a, const Box& b);

// Clips the segment (x1, y1)-(x2, y2) to the box in place (Liang-Barsky). Returns false if nothing
// of it lies in the box; start_moved/end_moved tell which end the clip replaced.
bool ClipSegment(const Box& box, double& x1, double& y1, double& x2, double& y2, bool& start_moved,
                 bool& end_moved);

class RunSink {
public:
    // A run of pixels: columns x to x + width - 1, rows y to y + height - 1.
    virtual void Run(int64_t x, int64_t y, int64_t width, int64_t height) = 0;
    // The runs of one row from left to right: columns bounds[2 k] to bounds[2 k + 1] - 1 for
    // each k below count.
    virtual void Row(int64_t y, const int64_t* bounds, int64_t count) {
        for (int64_t k = 0; k < count; ++k) {
            Run(bounds[2 * k], y, bounds[2 * k + 1] - bounds[2 * k], 1);
        }
    }

protected:
    ~RunSink() = default;
};

// The pixels of an aliased one-pixel line from pixel (x1, y1) to pixel (x2, y2), both end pixels
// included: one pixel per step along the longer axis, the other coordinate rounded to the nearest
// pixel (halves towards larger values, measured from the end with the smaller major coordinate, so
// a line drawn backwards covers the same pixels). Only pixels with columns px1..px2 and rows
// py1..py2 are produced, so the work is bounded by that box, whatever the coordinates.
void ThinLineRuns(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t px1, int64_t py1,
                  int64_t px2, int64_t py2, RunSink& sink);

} // namespace gdiplus_cairo
