// The objects behind GDI+'s handles, and the rules by which GDI+ draws that every drawing routine
// shares: where world points land on the device, what smoothing means, what a brush paints.
#pragma once

#include "gdiplus.h"
#include "geometry.h"
#include "pixels.h"

#include <cairo.h>

class Gdiplus::GpGraphics {
public:
    explicit GpGraphics(cairo_t* context) : cr(context) {}
    ~GpGraphics() {
        cairo_surface_flush(cairo_get_target(cr));
        cairo_destroy(cr);
    }
    GpGraphics(const GpGraphics&) = delete;
    GpGraphics& operator=(const GpGraphics&) = delete;

    cairo_t* cr;
    Gdiplus::SmoothingMode smoothing = Gdiplus::SmoothingModeDefault;
    Gdiplus::PixelOffsetMode pixel_offset = Gdiplus::PixelOffsetModeDefault;
    Gdiplus::InterpolationMode interpolation = Gdiplus::InterpolationModeDefault;
};

class Gdiplus::GpPen {
public:
    Gdiplus::ARGB color = 0;
    Gdiplus::REAL width = 1.0f;
    Gdiplus::Unit unit = Gdiplus::UnitWorld;
};

namespace gdiplus_cairo {

class SolidFill final : public Gdiplus::GpSolidFill {
public:
    explicit SolidFill(Gdiplus::ARGB argb) : color(argb) {}
    Gdiplus::ARGB color;
};

class LineGradient final : public Gdiplus::GpLineGradient {
public:
    LineGradient(cairo_pattern_t* linear, const Gdiplus::Point& from, const Gdiplus::Point& to,
                 Gdiplus::ARGB from_colour, Gdiplus::ARGB to_colour)
        : pattern(linear), start(from), end(to), start_colour(from_colour), end_colour(to_colour) {}
    ~LineGradient() override { cairo_pattern_destroy(pattern); }
    LineGradient(const LineGradient&) = delete;
    LineGradient& operator=(const LineGradient&) = delete;

    cairo_pattern_t* pattern;
    Gdiplus::Point start;
    Gdiplus::Point end;
    Gdiplus::ARGB start_colour;
    Gdiplus::ARGB end_colour;
};

template <class T> double D(T value) {
    return static_cast<double>(value);
}

// Smoothing only where the smoothing mode asks for it; GDI+'s default draws aliased.
inline bool AntiAliased(Gdiplus::SmoothingMode mode) {
    return mode == Gdiplus::SmoothingModeAntiAlias || mode == Gdiplus::SmoothingModeAntiAlias8x8 ||
           mode == Gdiplus::SmoothingModeHighQuality;
}

// Where a world point lands on the device. GDI+ puts pixel (0, 0)'s centre at (0, 0) by default
// and at (0.5, 0.5) with the half-pixel modes; device pixel (x, y) covers [x, x + 1) x [y, y + 1).
inline double PixelCentreShift(Gdiplus::PixelOffsetMode mode) {
    return mode == Gdiplus::PixelOffsetModeHighQuality || mode == Gdiplus::PixelOffsetModeHalf
               ? 0.0
               : 0.5;
}

void SetSourceArgb(cairo_t* cr, Gdiplus::ARGB argb);

// The brush as Cairo's source, in world coordinates; false for a brush of no known kind.
bool SetBrushSource(cairo_t* cr, const Gdiplus::GpBrush* brush);

// Prepares the context for one drawing call in world coordinates (a translation by the pixel
// centre shift) and returns the box in those coordinates where drawing can show, widened by a
// margin and kept within Cairo's safe range.
Box BeginWorldDrawing(Gdiplus::GpGraphics& graphics, double margin);

// The clip's extents on the device, whatever the transformation.
Box DeviceClip(cairo_t* cr);

// The pixels of the target when the layer may write them itself: a plain ARGB32 image surface
// without device offset or scale, and no clip short of the whole surface.
bool DirectPixels(cairo_t* cr, PixelImage& image);

} // namespace gdiplus_cairo
