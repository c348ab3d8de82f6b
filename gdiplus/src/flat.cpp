// GDI+'s flat calls drawn with Cairo. Each GDI+ rule that differs from Cairo's defaults lives in
// one of the small functions under "GDI+'s meaning" below.
#include "gdiplus.h"

#include "coverage.h"
#include "device_contexts.h"
#include "geometry.h"
#include "pixels.h"
#include "recording_internal.h"
#include "stroke.h"

#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace Gdiplus;
using gdiplus_cairo::Box;
using gdiplus_recording::detail::Record;

// ---- The native objects ------------------------------------------------------------------------

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
    SmoothingMode smoothing = SmoothingModeDefault;
    PixelOffsetMode pixel_offset = PixelOffsetModeDefault;
    InterpolationMode interpolation = InterpolationModeDefault;
};

class Gdiplus::GpPen {
public:
    ARGB color = 0;
    REAL width = 1.0f;
    Unit unit = UnitWorld;
};

Gdiplus::GpBrush::~GpBrush() = default;

namespace {

class SolidFill final : public GpSolidFill {
public:
    explicit SolidFill(ARGB argb) : color(argb) {}
    ARGB color;
};

class LineGradient final : public GpLineGradient {
public:
    LineGradient(cairo_pattern_t* linear, const GpPoint& from, const GpPoint& to, ARGB from_colour,
                 ARGB to_colour)
        : pattern(linear), start(from), end(to), start_colour(from_colour), end_colour(to_colour) {}
    ~LineGradient() override { cairo_pattern_destroy(pattern); }
    LineGradient(const LineGradient&) = delete;
    LineGradient& operator=(const LineGradient&) = delete;

    cairo_pattern_t* pattern;
    GpPoint start;
    GpPoint end;
    ARGB start_colour;
    ARGB end_colour;
};

template <class T> double D(T value) {
    return static_cast<double>(value);
}

// ---- GDI+'s meaning ----------------------------------------------------------------------------

// Anti-aliasing only where the smoothing mode asks for it; GDI+'s default draws aliased.
bool AntiAliased(SmoothingMode mode) {
    return mode == SmoothingModeAntiAlias || mode == SmoothingModeAntiAlias8x8 ||
           mode == SmoothingModeHighQuality;
}

// Where a world point lands in Cairo's device space. GDI+ puts pixel (0, 0)'s centre at (0, 0) by
// default and at (0.5, 0.5) with the half-pixel modes; Cairo's pixel centres lie at n + 0.5.
double PixelCentreShift(PixelOffsetMode mode) {
    return mode == PixelOffsetModeHighQuality || mode == PixelOffsetModeHalf ? 0.0 : 0.5;
}

// FillModeAlternate is the even-odd rule.
cairo_fill_rule_t FillRule(FillMode mode) {
    return mode == FillModeWinding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD;
}

// A line gradient repeats its ramp beyond the two points, every other repetition mirrored for the
// flip modes (the Y flip has no effect along a line).
cairo_extend_t GradientExtend(WrapMode mode) {
    return mode == WrapModeTileFlipX || mode == WrapModeTileFlipXY ? CAIRO_EXTEND_REFLECT
                                                                   : CAIRO_EXTEND_REPEAT;
}

// Pen widths in pixels for each unit, at 96 dots per inch; world units are pixels without a
// transform.
double PixelsPerUnit(Unit unit) {
    switch (unit) {
    case UnitPoint:
        return 96.0 / 72.0;
    case UnitInch:
        return 96.0;
    case UnitDocument:
        return 96.0 / 300.0;
    case UnitMillimeter:
        return 96.0 / 25.4;
    default:
        return 1.0;
    }
}

// A pen no wider than a pixel draws GDI+'s thin line: one pixel per step when aliased, both end
// points included.
constexpr double kThinPenWidth = 1.0;

void SetSourceArgb(cairo_t* cr, ARGB argb) {
    // Like Cairo's rgba sources, GDI+ colours are not premultiplied; Cairo blends them over what
    // lies beneath (its default operator, which the graphics never changes).
    cairo_set_source_rgba(cr, D((argb >> 16) & 0xFF) / 255.0, D((argb >> 8) & 0xFF) / 255.0,
                          D(argb & 0xFF) / 255.0, D(argb >> 24) / 255.0);
}

// Prepares the context for one drawing call in world coordinates (a translation by the pixel
// centre shift) and returns the box in those coordinates where drawing can show, widened by a
// margin and kept within Cairo's safe range.
Box BeginWorldDrawing(GpGraphics& graphics, double margin) {
    cairo_t* cr = graphics.cr;
    cairo_new_path(cr);
    cairo_identity_matrix(cr);
    const double shift = PixelCentreShift(graphics.pixel_offset);
    cairo_translate(cr, shift, shift);
    cairo_set_antialias(cr, AntiAliased(graphics.smoothing) ? CAIRO_ANTIALIAS_DEFAULT
                                                            : CAIRO_ANTIALIAS_NONE);
    Box box{};
    cairo_clip_extents(cr, &box.x1, &box.y1, &box.x2, &box.y2);
    return gdiplus_cairo::SafeBox(box, margin);
}

// The pixels of the target when the layer may write them itself: a plain ARGB32 image surface
// without device offset or scale, and no clip short of the whole surface.
bool DirectPixels(cairo_t* cr, gdiplus_cairo::PixelImage& image) {
    cairo_surface_t* surface = cairo_get_target(cr);
    if (cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) {
        return false;
    }
    double x = 0.0;
    double y = 0.0;
    cairo_surface_get_device_offset(surface, &x, &y);
    double scale_x = 1.0;
    double scale_y = 1.0;
    cairo_surface_get_device_scale(surface, &scale_x, &scale_y);
    if (x != 0.0 || y != 0.0 || scale_x != 1.0 || scale_y != 1.0) {
        return false;
    }
    image.data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface));
    image.stride = cairo_image_surface_get_stride(surface) / 4;
    image.width = cairo_image_surface_get_width(surface);
    image.height = cairo_image_surface_get_height(surface);
    if (image.data == nullptr || image.width <= 0 || image.height <= 0) {
        return false;
    }
    cairo_matrix_t matrix;
    cairo_get_matrix(cr, &matrix);
    cairo_identity_matrix(cr);
    Box clip{};
    cairo_clip_extents(cr, &clip.x1, &clip.y1, &clip.x2, &clip.y2);
    cairo_set_matrix(cr, &matrix);
    return clip.x1 <= 0.0 && clip.y1 <= 0.0 && clip.x2 >= D(image.width) &&
           clip.y2 >= D(image.height);
}

// A polygon given by integer points that needs no clipping.
struct Outline {
    const GpPoint* points;
    INT count;
};

// The outline's points moved by (dx, dy), in Cairo's 256ths. The offsets are whole or half
// pixels, so every point is exact.
void FixedPoints(const Outline& outline, double dx, double dy, gdiplus_cairo::FixedPoint* points) {
    for (INT i = 0; i < outline.count; ++i) {
        points[i] =
            gdiplus_cairo::FixedPoint{static_cast<int64_t>((D(outline.points[i].X) + dx) * 256.0),
                                      static_cast<int64_t>((D(outline.points[i].Y) + dy) * 256.0)};
    }
}

// The runs of pixels that an aliased fill of an outline moved by (dx, dy) covers, found by the
// layer itself: the same pixels as Cairo's rasteriser picks, without building its path and edge
// lists. False, with no runs, when the outline is one that Cairo fills by another route, or
// scratch memory is lacking.
bool ScanAliasedOutline(const Outline& outline, double dx, double dy, cairo_fill_rule_t rule,
                        int64_t width, int64_t height, gdiplus_cairo::RunSink& runs) {
    using gdiplus_cairo::FixedPoint;
    using gdiplus_cairo::ScanEdge;
    const auto count = static_cast<std::size_t>(outline.count);
    const auto rows = static_cast<std::size_t>(height) + 1;
    const auto columns = static_cast<std::size_t>(width) + 1;
    uint8_t* scratch = gdiplus_cairo::ScratchScan(
        count * (sizeof(FixedPoint) + sizeof(ScanEdge)) + (rows + columns) * sizeof(int64_t) +
        columns * sizeof(int32_t) + 2 * (columns / 64 + 1) * sizeof(uint64_t));
    if (scratch == nullptr) {
        return false;
    }
    // Laid out from the widest members down, so that each stays aligned.
    auto* points = reinterpret_cast<FixedPoint*>(scratch);
    auto* edges = reinterpret_cast<ScanEdge*>(points + count);
    auto* row_counts = reinterpret_cast<int64_t*>(edges + count);
    auto* bounds = row_counts + rows;
    auto* crossed = reinterpret_cast<uint64_t*>(bounds + columns);
    auto* odd = crossed + columns / 64 + 1;
    auto* changes = reinterpret_cast<int32_t*>(odd + columns / 64 + 1);
    const gdiplus_cairo::ScanStorage storage{edges, row_counts, changes, crossed, odd, bounds};
    FixedPoints(outline, dx, dy, points);
    return gdiplus_cairo::AliasedPolygonRuns(
        points, outline.count, rule == CAIRO_FILL_RULE_EVEN_ODD, width, height, storage, runs);
}

// The coverage bytes of an anti-aliased fill of an outline moved by (dx, dy) over a width x height
// mask, found by the layer itself: the same bytes as Cairo's rasteriser gives, each row to the sink
// as it is found. False, with nothing produced, when the outline is one that Cairo fills by
// another route, or scratch memory is lacking.
bool CoverSmoothOutline(const Outline& outline, double dx, double dy, cairo_fill_rule_t rule,
                        int64_t width, int64_t height, gdiplus_cairo::CoverageSink& sink) {
    using gdiplus_cairo::FixedPoint;
    auto* points = reinterpret_cast<FixedPoint*>(
        gdiplus_cairo::ScratchScan(static_cast<std::size_t>(outline.count) * sizeof(FixedPoint)));
    if (points == nullptr) {
        return false;
    }
    FixedPoints(outline, dx, dy, points);
    gdiplus_cairo::EdgeBuilder edges(width, height);
    return gdiplus_cairo::AddPolygon(edges, points, outline.count) && edges.Valid() &&
           gdiplus_cairo::CoverEdges(edges, rule == CAIRO_FILL_RULE_EVEN_ODD, sink);
}

// Where a gradient fill lands: pixel (x, y) of its box is target pixel (x0 + x, y0 + y) and takes
// the ramp's colour at row_position(y) + x * step.
template <class RowPosition> struct RampPlacement {
    gdiplus_cairo::PixelImage target;
    int64_t x0;
    int64_t y0;
    const gdiplus_cairo::GradientRamp& ramp;
    const RowPosition& row_position;
    uint64_t step;

    uint32_t* Pixels(int64_t x, int64_t y) const {
        return target.data + (y0 + y) * target.stride + x0 + x;
    }
    // The ramp position of pixel x in a row that starts at `row_start`.
    uint64_t At(uint64_t row_start, int64_t x) const {
        return row_start + static_cast<uint64_t>(x) * step;
    }
};

// Runs of full coverage blended onto the target as they come. Whole rows go through
// CompositeRampRow, with room for width + 7 colours.
template <class RowPosition> class RampRuns final : public gdiplus_cairo::RunSink {
public:
    RampRuns(const RampPlacement<RowPosition>& place, uint32_t* colours)
        : m_place(place), m_colours(colours) {}
    void Row(int64_t y, const int64_t* bounds, int64_t count) override {
        gdiplus_cairo::CompositeRampRow(m_place.Pixels(0, y), bounds, count, m_place.ramp,
                                        m_place.row_position(y), m_place.step, m_colours);
    }
    void Run(int64_t x, int64_t y, int64_t width, int64_t height) override {
        for (int64_t row = y; row < y + height; ++row) {
            if (row != m_row) { // rows come with several runs each
                m_row = row;
                m_position = m_place.row_position(row);
            }
            gdiplus_cairo::CompositeRampRun(m_place.Pixels(x, row), width, m_place.ramp,
                                            m_place.At(m_position, x), m_place.step);
        }
    }

private:
    const RampPlacement<RowPosition>& m_place;
    uint32_t* m_colours;
    int64_t m_row = -1;
    uint64_t m_position = 0;
};

// Rows of coverage blended onto the target as they come. Long stretches of full coverage go to
// CompositeRampRun, which blends them as CompositeRamp would but faster.
template <class RowPosition> class RampCoverage final : public gdiplus_cairo::CoverageSink {
public:
    explicit RampCoverage(const RampPlacement<RowPosition>& place) : m_place(place) {}
    void Row(int64_t y, int64_t x, const uint8_t* alpha, int64_t count, const int64_t* full,
             int64_t runs) override {
        const RampPlacement<RowPosition>& p = m_place;
        const uint64_t position = p.At(p.row_position(y), x);
        const auto partly = [&](int64_t from, int64_t to) {
            if (from < to) {
                const uint64_t start = p.At(position, from);
                gdiplus_cairo::CompositeRamp(
                    p.target, {alpha + from, to - from, p.x0 + x + from, p.y0 + y, to - from, 1},
                    p.ramp, [start](int64_t) { return start; }, p.step);
            }
        };
        int64_t done = 0;
        for (int64_t k = 0; k < runs; ++k) {
            partly(done, full[2 * k]);
            gdiplus_cairo::CompositeRampRun(p.Pixels(x + full[2 * k], y),
                                            full[2 * k + 1] - full[2 * k], p.ramp,
                                            p.At(position, full[2 * k]), p.step);
            done = full[2 * k + 1];
        }
        partly(done, count);
    }

private:
    const RampPlacement<RowPosition>& m_place;
};

// Cairo rasterises the path that `build` adds, moved by (dx, dy), into the coverage bytes.
template <class Build>
bool CoverWithCairo(const GpGraphics& graphics, cairo_fill_rule_t rule, const Build& build,
                    double dx, double dy, int64_t width, int64_t height, uint8_t* coverage,
                    int stride) {
    cairo_surface_t* mask = cairo_image_surface_create_for_data(
        coverage, CAIRO_FORMAT_A8, static_cast<int>(width), static_cast<int>(height), stride);
    cairo_t* cr = cairo_create(mask);
    cairo_set_antialias(cr, AntiAliased(graphics.smoothing) ? CAIRO_ANTIALIAS_DEFAULT
                                                            : CAIRO_ANTIALIAS_NONE);
    cairo_set_fill_rule(cr, rule);
    build(cr, dx, dy);
    cairo_fill(cr);
    const bool covered = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_finish(mask);
    cairo_surface_destroy(mask);
    return covered;
}

// A gradient fill composited by the layer itself: Cairo rasterises the path that `build` adds
// (in world coordinates moved by the offset it is given) into scratch coverage bytes over the
// visible part of the world box, and the gradient's colour is computed only where that coverage is
// not zero. Cheaper than Cairo's evaluation of the pattern across the whole extent and its
// compositing span by span. Only for the mirrored wrap: the repeating one jumps from end to start
// colour, and there a sampling difference would show as a whole colour. False, with nothing drawn,
// when the wrap is not mirrored, the target's pixels cannot be written or memory is lacking.
// An outline that needs no clipping skips the coverage bytes: the layer scans it and blends each
// run of pixels (aliased) or row of coverage (anti-aliased) as it finds it.
template <class Build>
bool FillWithGradientPixels(GpGraphics& graphics, LineGradient& gradient, Box world,
                            cairo_fill_rule_t rule, const Build& build,
                            const Outline* outline = nullptr) {
    gdiplus_cairo::PixelImage target{};
    if (cairo_pattern_get_extend(gradient.pattern) != CAIRO_EXTEND_REFLECT ||
        !DirectPixels(graphics.cr, target)) {
        return false;
    }
    // World x lands on device x + shift; one more pixel on each side covers smoothed edges.
    const double shift = PixelCentreShift(graphics.pixel_offset);
    const auto limit = [](double value, int64_t high) {
        return static_cast<int64_t>(std::fmin(std::fmax(value, 0.0), D(high)));
    };
    const int64_t x1 = limit(std::floor(world.x1 + shift) - 1.0, target.width);
    const int64_t y1 = limit(std::floor(world.y1 + shift) - 1.0, target.height);
    const int64_t x2 = limit(std::ceil(world.x2 + shift) + 1.0, target.width);
    const int64_t y2 = limit(std::ceil(world.y2 + shift) + 1.0, target.height);
    if (x1 >= x2 || y1 >= y2) {
        return true; // nothing of it shows
    }
    const int64_t width = x2 - x1;
    const int64_t height = y2 - y1;
    // t = ((p - start) . (end - start)) / |end - start|^2 at pixel centres: device pixel (x, y)
    // is world point (x + 0.5 - shift, y + 0.5 - shift).
    const double dx = D(gradient.end.X) - D(gradient.start.X);
    const double dy = D(gradient.end.Y) - D(gradient.start.Y);
    const double length2 = dx * dx + dy * dy;
    const double px = D(x1) + 0.5 - shift - D(gradient.start.X);
    const double py = D(y1) + 0.5 - shift - D(gradient.start.Y);
    const gdiplus_cairo::GradientRamp& ramp =
        gdiplus_cairo::RampOf(gradient.start_colour, gradient.end_colour);
    const auto row_position = [&](int64_t row) {
        return ramp.Position((px * dx + (py + D(row)) * dy) / length2);
    };
    const uint64_t step = ramp.Position(dx / length2);
    cairo_surface_t* surface = cairo_get_target(graphics.cr);
    cairo_surface_flush(surface);
    // An outline is blended as it is scanned; anything else through Cairo's coverage bytes.
    bool scanned = false;
    const RampPlacement<decltype(row_position)> place{target, x1, y1, ramp, row_position, step};
    if (outline != nullptr && AntiAliased(graphics.smoothing)) {
        RampCoverage<decltype(row_position)> rows(place);
        scanned =
            CoverSmoothOutline(*outline, shift - D(x1), shift - D(y1), rule, width, height, rows);
    } else if (outline != nullptr) {
        RampRuns<decltype(row_position)> runs(
            place, gdiplus_cairo::ScratchColours(static_cast<std::size_t>(width) + 7));
        scanned =
            ScanAliasedOutline(*outline, shift - D(x1), shift - D(y1), rule, width, height, runs);
    }
    if (!scanned) {
        const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, static_cast<int>(width));
        uint8_t* coverage =
            gdiplus_cairo::ScratchCoverage(static_cast<std::size_t>(stride) * std::size_t(height));
        if (stride <= 0 || coverage == nullptr) {
            return false;
        }
        std::memset(coverage, 0, static_cast<std::size_t>(stride) * std::size_t(height));
        if (!CoverWithCairo(graphics, rule, build, shift - D(x1), shift - D(y1), width, height,
                            coverage, stride)) {
            return false;
        }
        gdiplus_cairo::CompositeRamp(target, {coverage, stride, x1, y1, width, height}, ramp,
                                     row_position, step);
    }
    cairo_surface_mark_dirty_rectangle(surface, static_cast<int>(x1), static_cast<int>(y1),
                                       static_cast<int>(width), static_cast<int>(height));
    return true;
}

bool SetBrushSource(cairo_t* cr, GpBrush* brush) {
    if (auto* solid = dynamic_cast<SolidFill*>(brush)) {
        SetSourceArgb(cr, solid->color);
        return true;
    }
    if (auto* gradient = dynamic_cast<LineGradient*>(brush)) {
        // The pattern's points are world points: it takes the translation now in force.
        cairo_set_source(cr, gradient->pattern);
        return true;
    }
    return false;
}

double PenPixels(const GpPen& pen) {
    const double width = std::fabs(D(pen.width)) * PixelsPerUnit(pen.unit);
    return std::fmin(width, gdiplus_cairo::kCoordinateLimit);
}

bool AliasedThinLine(const GpGraphics& graphics, const GpPen& pen) {
    return !AntiAliased(graphics.smoothing) && PenPixels(pen) <= kThinPenWidth;
}

// Points moved by an offset on their way into a Cairo path: a translation applied here spares
// Cairo's matrix for every point.
class CairoPath final : public gdiplus_cairo::PathSink {
public:
    CairoPath(cairo_t* context, double dx, double dy) : m_cr(context), m_dx(dx), m_dy(dy) {}
    void MoveTo(double x, double y) override { cairo_move_to(m_cr, x + m_dx, y + m_dy); }
    void LineTo(double x, double y) override { cairo_line_to(m_cr, x + m_dx, y + m_dy); }
    void ClosePath() override { cairo_close_path(m_cr); }

private:
    cairo_t* m_cr;
    double m_dx;
    double m_dy;
};

class CairoRuns final : public gdiplus_cairo::RunSink {
public:
    explicit CairoRuns(cairo_t* context) : m_cr(context) {}
    void Run(int64_t x, int64_t y, int64_t width, int64_t height) override {
        cairo_rectangle(m_cr, D(x), D(y), D(width), D(height));
    }

private:
    cairo_t* m_cr;
};

// An aliased thin polyline written straight into the image's pixels: the same pixels as the runs
// filled below, each blended once. False, with nothing drawn, if scratch memory is lacking.
bool DrawThinPolylinePixels(const gdiplus_cairo::PixelImage& image, const GpPen& pen,
                            const Point* points, INT count) {
    const uint32_t colour = gdiplus_cairo::PremultipliedPixel(pen.color);
    if ((colour >> 24) == 0) {
        return true; // fully transparent: over leaves everything as it was
    }
    // An opaque colour replaces what lies beneath, so pixels drawn twice need no marks.
    uint8_t* marks = nullptr;
    if ((colour >> 24) != 0xFF) {
        marks = gdiplus_cairo::ScratchMarks(static_cast<std::size_t>(image.width * image.height));
        if (marks == nullptr) {
            return false;
        }
    }
    const auto each_segment = [&](gdiplus_cairo::RunSink& sink) {
        for (INT i = 0; i + 1 < count; ++i) {
            gdiplus_cairo::ThinLineRuns(points[i].X, points[i].Y, points[i + 1].X, points[i + 1].Y,
                                        0, 0, image.width - 1, image.height - 1, sink);
        }
    };
    gdiplus_cairo::PixelRuns runs(image, colour, marks);
    each_segment(runs);
    if (marks != nullptr) {
        gdiplus_cairo::ClearMarks clear(image, marks);
        each_segment(clear);
    }
    return true;
}

// An aliased thin polyline: the pixels of every segment, gathered into one path of pixel runs and
// filled once, so that a pixel shared by two segments is blended once. Pixels are addressed in
// device space; a world point at integers names its pixel in either pixel offset mode.
void DrawThinPolyline(GpGraphics& graphics, const GpPen& pen, const Point* points, INT count) {
    cairo_t* cr = graphics.cr;
    cairo_new_path(cr);
    cairo_identity_matrix(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    Box box{};
    cairo_clip_extents(cr, &box.x1, &box.y1, &box.x2, &box.y2);
    box = gdiplus_cairo::SafeBox(box, 1.0);
    const auto px1 = static_cast<int64_t>(std::floor(box.x1));
    const auto py1 = static_cast<int64_t>(std::floor(box.y1));
    const auto px2 = static_cast<int64_t>(std::ceil(box.x2));
    const auto py2 = static_cast<int64_t>(std::ceil(box.y2));
    gdiplus_cairo::PixelImage image{};
    if (DirectPixels(cr, image)) {
        cairo_surface_t* target = cairo_get_target(cr);
        cairo_surface_flush(target);
        const bool drawn = DrawThinPolylinePixels(image, pen, points, count);
        cairo_surface_mark_dirty(target);
        if (drawn) {
            return;
        }
    }
    CairoRuns runs(cr);
    for (INT i = 0; i + 1 < count; ++i) {
        gdiplus_cairo::ThinLineRuns(points[i].X, points[i].Y, points[i + 1].X, points[i + 1].Y, px1,
                                    py1, px2, py2, runs);
    }
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    SetSourceArgb(cr, pen.color);
    cairo_fill(cr);
}

// A polyline's segments clipped to the box, as moves and lines of a path: a segment stays joined
// to the one before unless clipping moved the point they share.
template <class Move, class Line>
void ClippedPolyline(const Point* points, INT count, const Box& box, const Move& move,
                     const Line& line) {
    bool joined = false;
    for (INT i = 0; i + 1 < count; ++i) {
        double x1 = points[i].X;
        double y1 = points[i].Y;
        double x2 = points[i + 1].X;
        double y2 = points[i + 1].Y;
        bool start_moved = false;
        bool end_moved = false;
        if (!gdiplus_cairo::ClipSegment(box, x1, y1, x2, y2, start_moved, end_moved)) {
            joined = false;
            continue;
        }
        if (!joined || start_moved) {
            move(x1, y1);
        }
        line(x2, y2);
        joined = !end_moved;
    }
}

// Hands a stroke's outline to the coverage edges in the order Cairo adds it to its polygon.
class OutlineEdges final : public gdiplus_cairo::OutlineSink {
public:
    explicit OutlineEdges(gdiplus_cairo::EdgeBuilder& edges) : m_edges(edges) {}
    void Contour(const gdiplus_cairo::FixedPoint* points, int64_t count, int dir) override {
        for (int64_t i = 1; i < count; ++i) {
            m_edges.Add(points[i - 1], points[i], dir);
        }
    }

private:
    gdiplus_cairo::EdgeBuilder& m_edges;
};

// Coverage rows blended onto the target in one colour.
class SolidCoverage final : public gdiplus_cairo::CoverageSink {
public:
    SolidCoverage(const gdiplus_cairo::PixelImage& image, uint32_t premultiplied)
        : m_image(image), m_colour(premultiplied) {}
    void Row(int64_t y, int64_t x0, const uint8_t* alpha, int64_t count, const int64_t*,
             int64_t) override {
        gdiplus_cairo::CoverRow(m_image.data + y * m_image.stride + x0, alpha, count, m_colour);
    }

private:
    gdiplus_cairo::PixelImage m_image;
    uint32_t m_colour;
};

// A smoothed stroke of the thin pen written straight into the image's pixels: the layer builds
// the outline and its coverage as Cairo would and blends it as Cairo's compositor does, sparing
// Cairo's path, polygon and span machinery, which cost most of a smoothed paint. False, with
// nothing drawn, when Cairo must draw it: a target whose pixels cannot be written, a path of
// horizontal and vertical segments only (Cairo strokes those as boxes) or scratch memory lacking.
bool StrokeThinSmoothPixels(GpGraphics& graphics, const GpPen& pen, const Point* points, INT count,
                            const Box& box) {
    gdiplus_cairo::PixelImage image{};
    if (!DirectPixels(graphics.cr, image)) {
        return false;
    }
    // The device point of a world point, as Cairo's path keeps it.
    const double shift = PixelCentreShift(graphics.pixel_offset);
    const auto device = [shift](double x, double y) {
        return gdiplus_cairo::FixedPoint{gdiplus_cairo::FixedFromDouble(x + shift),
                                         gdiplus_cairo::FixedFromDouble(y + shift)};
    };
    gdiplus_cairo::StrokePath path;
    if (!path.Begin(2 * static_cast<int64_t>(count))) {
        return false;
    }
    ClippedPolyline(
        points, count, box, [&](double x, double y) { path.MoveTo(device(x, y)); },
        [&](double x, double y) { path.LineTo(device(x, y)); });
    if (path.Rectilinear()) {
        return false;
    }
    gdiplus_cairo::EdgeBuilder edges(image.width, image.height);
    OutlineEdges outline(edges);
    if (!path.Outline(shift != 0.0, outline) || !edges.Valid()) {
        return false;
    }
    cairo_surface_t* target = cairo_get_target(graphics.cr);
    cairo_surface_flush(target);
    SolidCoverage blend(image, gdiplus_cairo::PremultipliedPixel(pen.color));
    const bool drawn = gdiplus_cairo::CoverEdges(edges, false, blend);
    cairo_surface_mark_dirty(target);
    return drawn;
}

// Any other line: Cairo's stroke in world coordinates, or for a smoothed thin pen the layer's own
// copy of it where the layer can write the pixels. Thin pens get square caps so that the end
// points are covered as in the aliased case; wider ones GDI+'s flat caps. Segments are clipped to
// the visible box (widened past anything a join can reach) and stay joined where they were.
void StrokePolyline(GpGraphics& graphics, const GpPen& pen, const Point* points, INT count) {
    cairo_t* cr = graphics.cr;
    const double width = PenPixels(pen);
    const Box box = BeginWorldDrawing(graphics, 4.0 + 10.0 * width);
    if (AntiAliased(graphics.smoothing) && (width <= 0.0 || width == kThinPenWidth) &&
        StrokeThinSmoothPixels(graphics, pen, points, count, box)) {
        return;
    }
    ClippedPolyline(
        points, count, box, [cr](double x, double y) { cairo_move_to(cr, x, y); },
        [cr](double x, double y) { cairo_line_to(cr, x, y); });
    cairo_set_line_width(cr, width > 0.0 ? width : kThinPenWidth);
    cairo_set_line_cap(cr, width <= kThinPenWidth ? CAIRO_LINE_CAP_SQUARE : CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, 10.0);
    SetSourceArgb(cr, pen.color);
    cairo_stroke(cr);
}

void DrawPolyline(GpGraphics& graphics, const GpPen& pen, const Point* points, INT count) {
    if (AliasedThinLine(graphics, pen)) {
        DrawThinPolyline(graphics, pen, points, count);
    } else {
        StrokePolyline(graphics, pen, points, count);
    }
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

Status FillRectangle(GpGraphics* graphics, GpBrush* brush, INT x, INT y, INT width, INT height) {
    if (graphics == nullptr || brush == nullptr) {
        return InvalidParameter;
    }
    if (width <= 0 || height <= 0) {
        return Ok;
    }
    // An axis-aligned rectangle clips exactly by clamping its sides.
    const Box box = BeginWorldDrawing(*graphics, 2.0);
    const double x1 = std::fmax(D(x), box.x1);
    const double y1 = std::fmax(D(y), box.y1);
    const double x2 = std::fmin(D(x) + D(width), box.x2);
    const double y2 = std::fmin(D(y) + D(height), box.y2);
    if (x1 >= x2 || y1 >= y2) {
        return Ok;
    }
    const auto add_rectangle = [=](cairo_t* cr, double dx, double dy) {
        cairo_rectangle(cr, x1 + dx, y1 + dy, x2 - x1, y2 - y1);
    };
    auto* gradient = dynamic_cast<LineGradient*>(brush);
    if (gradient != nullptr && FillWithGradientPixels(*graphics, *gradient, Box{x1, y1, x2, y2},
                                                      CAIRO_FILL_RULE_WINDING, add_rectangle)) {
        return Ok;
    }
    if (!SetBrushSource(graphics->cr, brush)) {
        return InvalidParameter;
    }
    add_rectangle(graphics->cr, 0.0, 0.0);
    cairo_fill(graphics->cr);
    return Ok;
}

// The points' bounding box.
Box Extent(const GpPoint* points, INT count) {
    INT x1 = points[0].X;
    INT y1 = points[0].Y;
    INT x2 = x1;
    INT y2 = y1;
    for (INT i = 1; i < count; ++i) {
        x1 = std::min(x1, points[i].X);
        y1 = std::min(y1, points[i].Y);
        x2 = std::max(x2, points[i].X);
        y2 = std::max(y2, points[i].Y);
    }
    return Box{D(x1), D(y1), D(x2), D(y2)};
}

bool Within(const Box& inner, const Box& outer) {
    return inner.x1 >= outer.x1 && inner.y1 >= outer.y1 && inner.x2 <= outer.x2 &&
           inner.y2 <= outer.y2;
}

Box Intersection(const Box& a, const Box& b) {
    return Box{std::fmax(a.x1, b.x1), std::fmax(a.y1, b.y1), std::fmin(a.x2, b.x2),
               std::fmin(a.y2, b.y2)};
}

Status FillPolygon(GpGraphics* graphics, GpBrush* brush, const GpPoint* points, INT count,
                   GpFillMode fillMode) {
    if (graphics == nullptr || brush == nullptr || points == nullptr || count < 3 ||
        (fillMode != FillModeAlternate && fillMode != FillModeWinding)) {
        return InvalidParameter;
    }
    const Box box = BeginWorldDrawing(*graphics, 2.0);
    const Box extent = Extent(points, count);
    const auto add_polygon = [&](cairo_t* cr, double dx, double dy) {
        CairoPath path(cr, dx, dy);
        if (Within(extent, box)) {
            // Nothing to clip: the outline goes in as it is.
            for (INT i = 0; i < count; ++i) {
                if (i == 0) {
                    path.MoveTo(D(points[i].X), D(points[i].Y));
                } else {
                    path.LineTo(D(points[i].X), D(points[i].Y));
                }
            }
            path.ClosePath();
            return;
        }
        gdiplus_cairo::PolygonClipper clipper(box, path);
        for (INT i = 0; i < count; ++i) {
            clipper.Add(D(points[i].X), D(points[i].Y));
        }
        clipper.Finish();
    };
    auto* gradient = dynamic_cast<LineGradient*>(brush);
    const Outline outline{points, count};
    if (gradient != nullptr &&
        FillWithGradientPixels(*graphics, *gradient, Intersection(extent, box), FillRule(fillMode),
                               add_polygon, Within(extent, box) ? &outline : nullptr)) {
        return Ok;
    }
    if (!SetBrushSource(graphics->cr, brush)) {
        return InvalidParameter;
    }
    add_polygon(graphics->cr, 0.0, 0.0);
    cairo_set_fill_rule(graphics->cr, FillRule(fillMode));
    cairo_fill(graphics->cr);
    return Ok;
}

Status DrawLines(GpGraphics* graphics, GpPen* pen, const GpPoint* points, INT count) {
    if (graphics == nullptr || pen == nullptr || points == nullptr || count < 2) {
        return InvalidParameter;
    }
    DrawPolyline(*graphics, *pen, points, count);
    return Ok;
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
