// GDI+'s flat calls: the checks and statuses of each call, the objects' life, and the drawing
// handed to fills.cpp and pens.cpp. Every call is recorded.
#include "gdiplus.h"

#include "device_contexts.h"
#include "fills.h"
#include "native_objects.h"
#include "pens.h"
#include "recording_internal.h"

#include <cairo.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

using namespace Gdiplus;
using namespace gdiplus_cairo;
using gdiplus_recording::detail::Record;

Gdiplus::GpBrush::~GpBrush() = default;

namespace {

// FillModeAlternate is the even-odd rule.
bool EvenOdd(FillMode mode) {
    return mode != FillModeWinding;
}

// A line gradient repeats its ramp beyond the two points, every other repetition mirrored for the
// flip modes (the Y flip has no effect along a line).
cairo_extend_t GradientExtend(WrapMode mode) {
    return mode == WrapModeTileFlipX || mode == WrapModeTileFlipXY ? CAIRO_EXTEND_REFLECT
                                                                   : CAIRO_EXTEND_REPEAT;
}

bool ValidWrapMode(WrapMode mode) {
    return mode >= WrapModeTile && mode <= WrapModeTileFlipXY;
}

} // namespace

// ---- Start-up ----------------------------------------------------------------------------------

namespace {
Status HookNotifications(ULONG_PTR* token) {
    if (token == nullptr) {
        return InvalidParameter;
    }
    *token = 0;
    return Ok;
}
VOID UnhookNotifications(ULONG_PTR) {}
} // namespace

extern "C" Status Gdiplus::GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                                          GdiplusStartupOutput* output) {
    static std::atomic<ULONG_PTR> next_token{1};
    Status status = Ok;
    ULONG_PTR given = 0;
    if (token == nullptr || input == nullptr) {
        status = InvalidParameter;
    } else if (input->GdiplusVersion < 1 || input->GdiplusVersion > 2) {
        status = UnsupportedGdiplusVersion;
    } else if (input->SuppressBackgroundThread && output == nullptr) {
        // Without the background thread the caller must take the notification hooks.
        status = InvalidParameter;
    } else {
        if (output != nullptr) {
            output->NotificationHook = HookNotifications;
            output->NotificationUnhook = UnhookNotifications;
        }
        given = next_token.fetch_add(1);
        *token = given;
    }
    Record("GdiplusStartup", status, nullptr, nullptr, nullptr,
           {input != nullptr ? D(input->GdiplusVersion) : 0.0, D(given)});
    return status;
}

extern "C" VOID Gdiplus::GdiplusShutdown(ULONG_PTR token) {
    Record("GdiplusShutdown", Ok, nullptr, nullptr, nullptr, {D(token)});
}

// ---- The flat calls ----------------------------------------------------------------------------

extern "C" VOID* Gdiplus::DllExports::GdipAlloc(size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

extern "C" VOID Gdiplus::DllExports::GdipFree(VOID* block) {
    std::free(block);
}

namespace {

Status CreateFromHdc(HDC hdc, GpGraphics** graphics) {
    if (graphics == nullptr) {
        return InvalidParameter;
    }
    *graphics = nullptr;
    cairo_surface_t* surface = gdiplus_cairo::AcquireLentSurface(hdc);
    if (surface == nullptr) {
        return OutOfMemory;
    }
    cairo_t* cr = cairo_create(surface);
    cairo_surface_destroy(surface);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        return OutOfMemory;
    }
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    *graphics = new (std::nothrow) GpGraphics(cr);
    if (*graphics == nullptr) {
        cairo_destroy(cr);
        return OutOfMemory;
    }
    return Ok;
}

} // namespace

extern "C" GpStatus Gdiplus::DllExports::GdipCreateFromHDC(HDC hdc, GpGraphics** graphics) {
    const Status status = CreateFromHdc(hdc, graphics);
    Record("GdipCreateFromHDC", status, nullptr, nullptr, graphics ? *graphics : nullptr,
           {D(reinterpret_cast<uintptr_t>(hdc))});
    return status;
}

extern "C" GpStatus Gdiplus::DllExports::GdipDeleteGraphics(GpGraphics* graphics) {
    Record("GdipDeleteGraphics", graphics ? Ok : InvalidParameter, graphics, nullptr, nullptr, {});
    if (graphics == nullptr) {
        return InvalidParameter;
    }
    delete graphics;
    return Ok;
}

extern "C" GpStatus Gdiplus::DllExports::GdipSetSmoothingMode(GpGraphics* graphics,
                                                              SmoothingMode smoothingMode) {
    Status status = Ok;
    if (graphics == nullptr || smoothingMode < SmoothingModeDefault ||
        smoothingMode > SmoothingModeAntiAlias8x8) {
        status = InvalidParameter;
    } else {
        graphics->smoothing = smoothingMode;
    }
    Record("GdipSetSmoothingMode", status, graphics, nullptr, nullptr, {D(smoothingMode)});
    return status;
}

extern "C" GpStatus Gdiplus::DllExports::GdipSetPixelOffsetMode(GpGraphics* graphics,
                                                                PixelOffsetMode pixelOffsetMode) {
    Status status = Ok;
    if (graphics == nullptr || pixelOffsetMode < PixelOffsetModeDefault ||
        pixelOffsetMode > PixelOffsetModeHalf) {
        status = InvalidParameter;
    } else {
        graphics->pixel_offset = pixelOffsetMode;
    }
    Record("GdipSetPixelOffsetMode", status, graphics, nullptr, nullptr, {D(pixelOffsetMode)});
    return status;
}

extern "C" GpStatus
Gdiplus::DllExports::GdipSetInterpolationMode(GpGraphics* graphics,
                                              InterpolationMode interpolationMode) {
    // Kept for completeness: nothing here resamples images.
    Status status = Ok;
    if (graphics == nullptr || interpolationMode < InterpolationModeDefault ||
        interpolationMode > InterpolationModeHighQualityBicubic) {
        status = InvalidParameter;
    } else {
        graphics->interpolation = interpolationMode;
    }
    Record("GdipSetInterpolationMode", status, graphics, nullptr, nullptr, {D(interpolationMode)});
    return status;
}

extern "C" GpStatus Gdiplus::DllExports::GdipCreateSolidFill(ARGB color, GpSolidFill** brush) {
    Status status = Ok;
    if (brush == nullptr) {
        status = InvalidParameter;
    } else {
        *brush = new (std::nothrow) SolidFill(color);
        status = *brush != nullptr ? Ok : OutOfMemory;
    }
    Record("GdipCreateSolidFill", status, nullptr, nullptr, brush ? *brush : nullptr, {D(color)});
    return status;
}

namespace {

Status CreateLineBrush(const GpPoint* point1, const GpPoint* point2, ARGB color1, ARGB color2,
                       GpWrapMode wrapMode, GpLineGradient** lineGradient) {
    if (lineGradient == nullptr) {
        return InvalidParameter;
    }
    *lineGradient = nullptr;
    if (point1 == nullptr || point2 == nullptr || !ValidWrapMode(wrapMode)) {
        return InvalidParameter;
    }
    // A gradient without length has no direction; GDI+ refuses it here.
    if (point1->X == point2->X && point1->Y == point2->Y) {
        return OutOfMemory;
    }
    // Cairo fits the pattern's span to its own range, so the points go in as they are.
    cairo_pattern_t* pattern =
        cairo_pattern_create_linear(D(point1->X), D(point1->Y), D(point2->X), D(point2->Y));
    const auto component = [](ARGB argb, int shift) { return D((argb >> shift) & 0xFF) / 255.0; };
    cairo_pattern_add_color_stop_rgba(pattern, 0.0, component(color1, 16), component(color1, 8),
                                      component(color1, 0), component(color1, 24));
    cairo_pattern_add_color_stop_rgba(pattern, 1.0, component(color2, 16), component(color2, 8),
                                      component(color2, 0), component(color2, 24));
    cairo_pattern_set_extend(pattern, GradientExtend(wrapMode));
    if (cairo_pattern_status(pattern) != CAIRO_STATUS_SUCCESS) {
        cairo_pattern_destroy(pattern);
        return OutOfMemory;
    }
    *lineGradient = new (std::nothrow) LineGradient(pattern, *point1, *point2, color1, color2);
    if (*lineGradient == nullptr) {
        cairo_pattern_destroy(pattern);
        return OutOfMemory;
    }
    return Ok;
}

} // namespace

extern "C" GpStatus Gdiplus::DllExports::GdipCreateLineBrushI(const GpPoint* point1,
                                                              const GpPoint* point2, ARGB color1,
                                                              ARGB color2, GpWrapMode wrapMode,
                                                              GpLineGradient** lineGradient) {
    const Status status = CreateLineBrush(point1, point2, color1, color2, wrapMode, lineGradient);
    Record("GdipCreateLineBrushI", status, nullptr, nullptr, lineGradient ? *lineGradient : nullptr,
           {point1 ? D(point1->X) : 0.0, point1 ? D(point1->Y) : 0.0, point2 ? D(point2->X) : 0.0,
            point2 ? D(point2->Y) : 0.0, D(color1), D(color2), D(wrapMode)});
    return status;
}

extern "C" GpStatus Gdiplus::DllExports::GdipSetLineWrapMode(GpLineGradient* brush,
                                                             GpWrapMode wrapMode) {
    Status status = Ok;
    auto* gradient = dynamic_cast<LineGradient*>(static_cast<GpBrush*>(brush));
    if (gradient == nullptr || !ValidWrapMode(wrapMode)) {
        status = InvalidParameter;
    } else {
        cairo_pattern_set_extend(gradient->pattern, GradientExtend(wrapMode));
    }
    Record("GdipSetLineWrapMode", status, brush, nullptr, nullptr, {D(wrapMode)});
    return status;
}

extern "C" GpStatus Gdiplus::DllExports::GdipDeleteBrush(GpBrush* brush) {
    Record("GdipDeleteBrush", brush ? Ok : InvalidParameter, brush, nullptr, nullptr, {});
    if (brush == nullptr) {
        return InvalidParameter;
    }
    delete brush;
    return Ok;
}

extern "C" GpStatus Gdiplus::DllExports::GdipCreatePen1(ARGB color, REAL width, GpUnit unit,
                                                        GpPen** pen) {
    Status status = Ok;
    if (pen == nullptr || unit < UnitWorld || unit > UnitMillimeter || !std::isfinite(width)) {
        status = InvalidParameter;
    } else {
        *pen = new (std::nothrow) GpPen();
        if (*pen == nullptr) {
            status = OutOfMemory;
        } else {
            (*pen)->color = color;
            (*pen)->width = width;
            (*pen)->unit = unit;
        }
    }
    if (status != Ok && pen != nullptr) {
        *pen = nullptr;
    }
    Record("GdipCreatePen1", status, nullptr, nullptr, pen ? *pen : nullptr,
           {D(color), D(width), D(unit)});
    return status;
}

extern "C" GpStatus Gdiplus::DllExports::GdipDeletePen(GpPen* pen) {
    Record("GdipDeletePen", pen ? Ok : InvalidParameter, pen, nullptr, nullptr, {});
    if (pen == nullptr) {
        return InvalidParameter;
    }
    delete pen;
    return Ok;
}

namespace {

bool KnownBrush(const GpBrush* brush) {
    return dynamic_cast<const SolidFill*>(brush) != nullptr ||
           dynamic_cast<const LineGradient*>(brush) != nullptr;
}

Status FillRectangle(GpGraphics* graphics, GpBrush* brush, INT x, INT y, INT width, INT height) {
    if (graphics == nullptr || !KnownBrush(brush)) {
        return InvalidParameter;
    }
    if (width <= 0 || height <= 0) {
        return Ok;
    }
    return gdiplus_cairo::FillRectangle(*graphics, *brush, x, y, width, height) ? Ok : OutOfMemory;
}

Status FillPolygon(GpGraphics* graphics, GpBrush* brush, const GpPoint* points, INT count,
                   GpFillMode fillMode) {
    if (graphics == nullptr || !KnownBrush(brush) || points == nullptr || count < 3 ||
        (fillMode != FillModeAlternate && fillMode != FillModeWinding)) {
        return InvalidParameter;
    }
    return gdiplus_cairo::FillPolygon(*graphics, *brush, points, count, EvenOdd(fillMode))
               ? Ok
               : OutOfMemory;
}

Status DrawLines(GpGraphics* graphics, GpPen* pen, const GpPoint* points, INT count) {
    if (graphics == nullptr || pen == nullptr || points == nullptr || count < 2) {
        return InvalidParameter;
    }
    return DrawPolyline(*graphics, *pen, points, count) ? Ok : OutOfMemory;
}

} // namespace

extern "C" GpStatus Gdiplus::DllExports::GdipFillRectangleI(GpGraphics* graphics, GpBrush* brush,
                                                            INT x, INT y, INT width, INT height) {
    const Status status = FillRectangle(graphics, brush, x, y, width, height);
    Record("GdipFillRectangleI", status, graphics, brush, nullptr,
           {D(x), D(y), D(width), D(height)});
    return status;
}

extern "C" GpStatus Gdiplus::DllExports::GdipFillPolygonI(GpGraphics* graphics, GpBrush* brush,
                                                          const GpPoint* points, INT count,
                                                          GpFillMode fillMode) {
    const Status status = FillPolygon(graphics, brush, points, count, fillMode);
    const bool valid_points = points != nullptr && count >= 3;
    Record("GdipFillPolygonI", status, graphics, brush, nullptr, {D(count), D(fillMode)},
           valid_points ? points : nullptr, valid_points ? static_cast<std::size_t>(count) : 0);
    return status;
}

extern "C" GpStatus Gdiplus::DllExports::GdipDrawLineI(GpGraphics* graphics, GpPen* pen, INT x1,
                                                       INT y1, INT x2, INT y2) {
    const Point ends[2] = {Point(x1, y1), Point(x2, y2)};
    const Status status = DrawLines(graphics, pen, ends, 2);
    Record("GdipDrawLineI", status, graphics, pen, nullptr, {D(x1), D(y1), D(x2), D(y2)});
    return status;
}

extern "C" GpStatus Gdiplus::DllExports::GdipDrawLinesI(GpGraphics* graphics, GpPen* pen,
                                                        const GpPoint* points, INT count) {
    const Status status = DrawLines(graphics, pen, points, count);
    const bool valid_points = points != nullptr && count >= 2;
    Record("GdipDrawLinesI", status, graphics, pen, nullptr, {D(count)},
           valid_points ? points : nullptr, valid_points ? static_cast<std::size_t>(count) : 0);
    return status;
}
