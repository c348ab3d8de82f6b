#include "pens.h"

#include "fills.h"
#include "raster/scratch.h"
#include "raster/thin_stroke.h"

#include <cmath>

namespace gdiplus_cairo {

using Gdiplus::GpGraphics;
using Gdiplus::GpPen;
using Gdiplus::Point;

namespace {

struct PixelMarks;

// Pen widths in pixels for each unit, at 96 dots per inch; world units are pixels without a
// transform.
double PixelsPerUnit(Gdiplus::Unit unit) {
    switch (unit) {
    case Gdiplus::UnitPoint:
        return 96.0 / 72.0;
    case Gdiplus::UnitInch:
        return 96.0;
    case Gdiplus::UnitDocument:
        return 96.0 / 300.0;
    case Gdiplus::UnitMillimeter:
        return 96.0 / 25.4;
    default:
        return 1.0;
    }
}

// A pen no wider than a pixel draws GDI+'s thin line: one pixel per step when aliased, both end
// points included.
constexpr double kThinPenWidth = 1.0;
// How far the thin pen's outline reaches beyond its points: a miter's tip at most ten half-widths.
constexpr double kThinPenReach = 5.0;

double PenPixels(const GpPen& pen) {
    const double width = std::fabs(D(pen.width)) * PixelsPerUnit(pen.unit);
    return std::fmin(width, kCoordinateLimit);
}

bool AliasedThinLine(const GpGraphics& graphics, const GpPen& pen) {
    return !AntiAliased(graphics.smoothing) && PenPixels(pen) <= kThinPenWidth;
}

class CairoRuns final : public RunSink {
public:
    explicit CairoRuns(cairo_t* context) : m_cr(context) {}
    void Run(int64_t x, int64_t y, int64_t width, int64_t height) override {
        cairo_rectangle(m_cr, D(x), D(y), D(width), D(height));
    }

private:
    cairo_t* m_cr;
};

// Every segment's thin-line pixels within columns px1..px2 and rows py1..py2, as runs.
void ThinPolylineRuns(const Point* points, INT count, int64_t px1, int64_t py1, int64_t px2,
                      int64_t py2, RunSink& sink) {
    for (INT i = 0; i + 1 < count; ++i) {
        ThinLineRuns(points[i].X, points[i].Y, points[i + 1].X, points[i + 1].Y, px1, py1, px2, py2,
                     sink);
    }
}

// An aliased thin polyline written straight into the image's pixels: the same pixels as the runs
// filled below, each blended once. False, with nothing drawn, if scratch memory is lacking.
bool DrawThinPolylinePixels(const PixelImage& image, const GpPen& pen, const Point* points,
                            INT count) {
    const uint32_t colour = PremultipliedPixel(pen.color);
    if ((colour >> 24) == 0) {
        return true; // fully transparent: over leaves everything as it was
    }
    // An opaque colour replaces what lies beneath, so pixels drawn twice need no marks.
    uint8_t* marks = nullptr;
    if ((colour >> 24) != 0xFF) {
        marks = Scratch<uint8_t, PixelMarks>::Zeroed(
            static_cast<std::size_t>(image.width * image.height));
        if (marks == nullptr) {
            return false;
        }
    }
    const auto each_segment = [&](RunSink& sink) {
        ThinPolylineRuns(points, count, 0, 0, image.width - 1, image.height - 1, sink);
    };
    PixelRuns runs(image, colour, marks);
    each_segment(runs);
    if (marks != nullptr) {
        ClearMarks clear(image, marks);
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
    PixelImage image{};
    if (DirectPixels(cr, image)) {
        cairo_surface_t* target = cairo_get_target(cr);
        cairo_surface_flush(target);
        const bool drawn = DrawThinPolylinePixels(image, pen, points, count);
        cairo_surface_mark_dirty(target);
        if (drawn) {
            return;
        }
    }
    // Cairo takes the runs as a path: keep them within the clip and its fixed-point range.
    Box box{};
    cairo_clip_extents(cr, &box.x1, &box.y1, &box.x2, &box.y2);
    box = SafeBox(box, 1.0);
    const auto px1 = static_cast<int64_t>(std::floor(box.x1));
    const auto py1 = static_cast<int64_t>(std::floor(box.y1));
    const auto px2 = static_cast<int64_t>(std::ceil(box.x2));
    const auto py2 = static_cast<int64_t>(std::ceil(box.y2));
    CairoRuns runs(cr);
    ThinPolylineRuns(points, count, px1, py1, px2, py2, runs);
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
        if (!ClipSegment(box, x1, y1, x2, y2, start_moved, end_moved)) {
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

// A smoothed stroke of the thin pen: the layer's own outline, filled through its scan converter.
// False when the working memory for it cannot be had.
bool StrokeThinSmooth(GpGraphics& graphics, const GpPen& pen, const Point* points, INT count,
                      const Box& box) {
    const Box visible = Intersection(Extent(points, count), box);
    const Box extent{visible.x1 - kThinPenReach, visible.y1 - kThinPenReach,
                     visible.x2 + kThinPenReach, visible.y2 + kThinPenReach};
    const double shift = PixelCentreShift(graphics.pixel_offset);
    const DeviceArea area = VisibleArea(graphics.cr, extent, shift);
    EdgeList edges;
    ThinStroke stroke;
    if (area.width <= 0 || area.height <= 0) {
        return true;
    }
    if (!stroke.Begin(2 * static_cast<int64_t>(count), edges)) {
        return false;
    }
    // World points land on device points moved by the shift, here from the area's corner.
    const double dx = shift - D(area.x);
    const double dy = shift - D(area.y);
    ClippedPolyline(
        points, count, box, [&](double x, double y) { stroke.MoveTo(x + dx, y + dy); },
        [&](double x, double y) { stroke.LineTo(x + dx, y + dy); });
    stroke.Finish();
    return FillEdges(graphics, nullptr, pen.color, edges, false, area);
}

// A smoothed thin pen through the layer's converter; any other pen through Cairo's stroke in
// world coordinates: square caps for thin pens so that the end points are covered as in the
// aliased case, GDI+'s flat caps for wider ones, and GDI+'s miter joins. Segments are clipped to
// the visible box (widened past anything a join can reach) and stay joined where they were.
bool StrokePolyline(GpGraphics& graphics, const GpPen& pen, const Point* points, INT count) {
    cairo_t* cr = graphics.cr;
    const double width = PenPixels(pen);
    const Box box = BeginWorldDrawing(graphics, 4.0 + 10.0 * width);
    if (AntiAliased(graphics.smoothing) && (width <= 0.0 || width == kThinPenWidth)) {
        return StrokeThinSmooth(graphics, pen, points, count, box);
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
    return true;
}

} // namespace

bool DrawPolyline(GpGraphics& graphics, const GpPen& pen, const Point* points, INT count) {
    if (AliasedThinLine(graphics, pen)) {
        DrawThinPolyline(graphics, pen, points, count);
        return true;
    }
    return StrokePolyline(graphics, pen, points, count);
}

} // namespace gdiplus_cairo
