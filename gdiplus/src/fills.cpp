#include "fills.h"

#include "raster/scratch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gdiplus_cairo {

namespace {

struct RampColours;
struct MaskBytes;

// Where a gradient lands: pixel (x, y) of the area is image pixel (x0 + x, y0 + y) and takes the
// ramp's colour at row_position(y) + x * step.
template <class RowPosition> struct RampPlacement {
    PixelImage target;
    int64_t x0;
    int64_t y0;
    const GradientRamp& ramp;
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

// Aliased runs blended onto the image as they come. Whole rows go through CompositeRampRow, with
// room for width + 7 colours.
template <class RowPosition> class RampRuns final : public RunSink {
public:
    RampRuns(const RampPlacement<RowPosition>& place, uint32_t* colours)
        : m_place(place), m_colours(colours) {}
    void Row(int64_t y, const int64_t* bounds, int64_t count) override {
        CompositeRampRow(m_place.Pixels(0, y), bounds, count, m_place.ramp, m_place.row_position(y),
                         m_place.step, m_colours);
    }
    void Run(int64_t x, int64_t y, int64_t width, int64_t) override {
        CompositeRampRun(m_place.Pixels(x, y), width, m_place.ramp,
                         m_place.At(m_place.row_position(y), x), m_place.step);
    }

private:
    const RampPlacement<RowPosition>& m_place;
    uint32_t* m_colours;
};

// Rows of coverage blended onto the image as they come. Long stretches of full coverage go to
// CompositeRampRun, which blends them as CompositeRamp would but faster.
template <class RowPosition> class RampCoverage final : public CoverageSink {
public:
    explicit RampCoverage(const RampPlacement<RowPosition>& place) : m_place(place) {}
    void Row(int64_t y, int64_t x, const uint8_t* alpha, int64_t count, const int64_t* full,
             int64_t runs) override {
        const RampPlacement<RowPosition>& p = m_place;
        const uint64_t position = p.At(p.row_position(y), x);
        const auto partly = [&](int64_t from, int64_t to) {
            if (from < to) {
                const uint64_t start = p.At(position, from);
                CompositeRamp(
                    p.target, {alpha + from, to - from, p.x0 + x + from, p.y0 + y, to - from, 1},
                    p.ramp, [start](int64_t) { return start; }, p.step);
            }
        };
        int64_t done = 0;
        for (int64_t k = 0; k < runs; ++k) {
            partly(done, full[2 * k]);
            CompositeRampRun(p.Pixels(x + full[2 * k], y), full[2 * k + 1] - full[2 * k], p.ramp,
                             p.At(position, full[2 * k]), p.step);
            done = full[2 * k + 1];
        }
        partly(done, count);
    }

private:
    const RampPlacement<RowPosition>& m_place;
};

// Coverage rows blended onto the image in one colour.
class SolidCoverage final : public CoverageSink {
public:
    SolidCoverage(const PixelImage& image, uint32_t premultiplied)
        : m_image(image), m_colour(premultiplied) {}
    void Row(int64_t y, int64_t x0, const uint8_t* alpha, int64_t count, const int64_t*,
             int64_t) override {
        CoverRow(m_image.data + y * m_image.stride + x0, alpha, count, m_colour);
    }

private:
    PixelImage m_image;
    uint32_t m_colour;
};

// Coverage bytes kept in an A8 mask, for Cairo to paint the brush through.
class MaskCoverage final : public CoverageSink, public RunSink {
public:
    MaskCoverage(uint8_t* bytes, int64_t stride) : m_bytes(bytes), m_stride(stride) {}
    using RunSink::Row;
    void Row(int64_t y, int64_t x0, const uint8_t* alpha, int64_t count, const int64_t*,
             int64_t) override {
        std::memcpy(m_bytes + y * m_stride + x0, alpha, static_cast<std::size_t>(count));
    }
    void Run(int64_t x, int64_t y, int64_t width, int64_t) override {
        std::memset(m_bytes + y * m_stride + x, 0xFF, static_cast<std::size_t>(width));
    }

private:
    uint8_t* m_bytes;
    int64_t m_stride;
};

// A world path's sub-paths, moved by (dx, dy), as edges in 256ths; each sub-path closes. The
// moves are whole or half pixels, so whole-number points stay exact without rounding.
class EdgePath {
public:
    EdgePath(EdgeList& edges, double dx, double dy)
        : m_edges(edges), m_dx(FixedFromDouble(dx)), m_dy(FixedFromDouble(dy)) {}
    template <class T> void MoveTo(T x, T y) {
        ClosePath();
        m_first = FixedPoint{Fixed(x) + m_dx, Fixed(y) + m_dy};
        m_current = m_first;
    }
    template <class T> void LineTo(T x, T y) {
        const FixedPoint point{Fixed(x) + m_dx, Fixed(y) + m_dy};
        m_edges.Add(m_current, point);
        m_current = point;
    }
    void ClosePath() {
        m_edges.Add(m_current, m_first);
        m_current = m_first;
    }

private:
    static int64_t Fixed(double v) { return FixedFromDouble(v); }
    static int64_t Fixed(INT v) { return int64_t{v} * kFixedOne; }

    EdgeList& m_edges;
    int64_t m_dx, m_dy;
    FixedPoint m_first{0, 0};
    FixedPoint m_current{0, 0};
};

// Fills the world box's part that `add` adds to an EdgePath.
template <class Add>
bool FillShape(Gdiplus::GpGraphics& graphics, const Gdiplus::GpBrush& brush, const Box& world,
               bool even_odd, const Add& add) {
    const double shift = PixelCentreShift(graphics.pixel_offset);
    const DeviceArea area = VisibleArea(graphics.cr, world, shift);
    EdgeList edges;
    EdgePath path(edges, shift - D(area.x), shift - D(area.y));
    add(path);
    return FillEdges(graphics, &brush, 0, edges, even_odd, area);
}

bool Cover(const EdgeList& edges, bool even_odd, bool smoothed, const DeviceArea& area,
           CoverageSink& coverage, RunSink& runs) {
    return smoothed ? CoverSmoothed(edges, even_odd, area.width, area.height, coverage)
                    : ScanAliased(edges, even_odd, area.width, area.height, runs);
}

// The part of the image that the area covers, as an image of its own.
PixelImage Part(const PixelImage& image, const DeviceArea& area) {
    return PixelImage{image.data + area.y * image.stride + area.x, image.stride, area.width,
                      area.height};
}

// The general route, for any target and brush: the coverage as a mask, painted by Cairo with the
// brush's pattern in world coordinates.
bool PaintThroughMask(Gdiplus::GpGraphics& graphics, const Gdiplus::GpBrush* brush,
                      Gdiplus::ARGB colour, const EdgeList& edges, bool even_odd,
                      const DeviceArea& area) {
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, static_cast<int>(area.width));
    const std::size_t size =
        static_cast<std::size_t>(stride) * static_cast<std::size_t>(area.height);
    uint8_t* bytes = stride > 0 ? Scratch<uint8_t, MaskBytes>::Get(size) : nullptr;
    if (bytes == nullptr) {
        return false;
    }
    std::memset(bytes, 0, size);
    MaskCoverage mask_sink(bytes, stride);
    if (!Cover(edges, even_odd, AntiAliased(graphics.smoothing), area, mask_sink, mask_sink)) {
        return false;
    }
    cairo_t* cr = graphics.cr;
    cairo_identity_matrix(cr);
    const double shift = PixelCentreShift(graphics.pixel_offset);
    cairo_translate(cr, shift, shift);
    if (brush != nullptr) {
        if (!SetBrushSource(cr, brush)) {
            return false;
        }
    } else {
        SetSourceArgb(cr, colour);
    }
    cairo_surface_t* mask =
        cairo_image_surface_create_for_data(bytes, CAIRO_FORMAT_A8, static_cast<int>(area.width),
                                            static_cast<int>(area.height), stride);
    cairo_mask_surface(cr, mask, D(area.x) - shift, D(area.y) - shift);
    cairo_surface_destroy(mask);
    return true;
}

// A mirrored gradient blended straight into the image, its colour computed only where the
// coverage is not zero: cheaper than Cairo's evaluation of the pattern over the whole area.
bool GradientPixels(const Gdiplus::GpGraphics& graphics, const LineGradient& gradient,
                    const PixelImage& image, const EdgeList& edges, bool even_odd,
                    const DeviceArea& area) {
    // t = ((p - start) . (end - start)) / |end - start|^2 at pixel centres: device pixel (x, y)
    // is world point (x + 0.5 - shift, y + 0.5 - shift).
    const double shift = PixelCentreShift(graphics.pixel_offset);
    const double dx = D(gradient.end.X) - D(gradient.start.X);
    const double dy = D(gradient.end.Y) - D(gradient.start.Y);
    const double length2 = dx * dx + dy * dy;
    const double px = D(area.x) + 0.5 - shift - D(gradient.start.X);
    const double py = D(area.y) + 0.5 - shift - D(gradient.start.Y);
    const GradientRamp& ramp = RampOf(gradient.start_colour, gradient.end_colour);
    const auto row_position = [&](int64_t row) {
        return ramp.Position((px * dx + (py + D(row)) * dy) / length2);
    };
    const uint64_t step = ramp.Position(dx / length2);
    const RampPlacement<decltype(row_position)> place{image, area.x,       area.y,
                                                      ramp,  row_position, step};
    uint32_t* colours =
        Scratch<uint32_t, RampColours>::Get(static_cast<std::size_t>(area.width) + 7);
    if (colours == nullptr) {
        return false;
    }
    RampCoverage<decltype(row_position)> coverage(place);
    RampRuns<decltype(row_position)> runs(place, colours);
    return Cover(edges, even_odd, AntiAliased(graphics.smoothing), area, coverage, runs);
}

// The quick route: the brush blended straight into an image's pixels. False when it cannot be
// taken: a target whose pixels the layer may not write, or a gradient that repeats without
// mirroring (there it jumps from end to start colour, and a sampling difference would show as a
// whole colour).
bool DirectFill(Gdiplus::GpGraphics& graphics, const Gdiplus::GpBrush* brush, Gdiplus::ARGB colour,
                const EdgeList& edges, bool even_odd, const DeviceArea& area, bool& drawn) {
    PixelImage image{};
    const auto* gradient = dynamic_cast<const LineGradient*>(brush);
    if (gradient != nullptr) {
        if (cairo_pattern_get_extend(gradient->pattern) != CAIRO_EXTEND_REFLECT) {
            return false;
        }
    } else if (const auto* solid = dynamic_cast<const SolidFill*>(brush)) {
        colour = solid->color;
    } else if (brush != nullptr) {
        return false;
    }
    if (!DirectPixels(graphics.cr, image)) {
        return false;
    }
    cairo_surface_t* surface = cairo_get_target(graphics.cr);
    cairo_surface_flush(surface);
    if (gradient != nullptr) {
        drawn = GradientPixels(graphics, *gradient, image, edges, even_odd, area);
    } else {
        const PixelImage part = Part(image, area);
        const uint32_t premultiplied = PremultipliedPixel(colour);
        SolidCoverage coverage(part, premultiplied);
        // Runs of one fill never overlap: no marks are needed.
        PixelRuns runs(part, premultiplied, nullptr);
        drawn = Cover(edges, even_odd, AntiAliased(graphics.smoothing), area, coverage, runs);
    }
    cairo_surface_mark_dirty_rectangle(surface, static_cast<int>(area.x), static_cast<int>(area.y),
                                       static_cast<int>(area.width), static_cast<int>(area.height));
    return true;
}

} // namespace

bool FillEdges(Gdiplus::GpGraphics& graphics, const Gdiplus::GpBrush* brush, Gdiplus::ARGB colour,
               const EdgeList& edges, bool even_odd, const DeviceArea& area) {
    if (!edges.Valid()) {
        return false;
    }
    if (area.width <= 0 || area.height <= 0) {
        return true;
    }
    bool drawn = false;
    if (DirectFill(graphics, brush, colour, edges, even_odd, area, drawn)) {
        return drawn;
    }
    return PaintThroughMask(graphics, brush, colour, edges, even_odd, area);
}

Box Extent(const Gdiplus::Point* points, INT count) {
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

DeviceArea VisibleArea(cairo_t* cr, const Box& world, double shift) {
    const Box clip = DeviceClip(cr);
    const auto limit = [](double value, double low, double high) {
        return static_cast<int64_t>(std::fmin(std::fmax(value, low), high));
    };
    const double low_x = std::floor(clip.x1);
    const double low_y = std::floor(clip.y1);
    const double high_x = std::fmax(std::ceil(clip.x2), low_x);
    const double high_y = std::fmax(std::ceil(clip.y2), low_y);
    const int64_t x1 = limit(std::floor(world.x1 + shift) - 1.0, low_x, high_x);
    const int64_t y1 = limit(std::floor(world.y1 + shift) - 1.0, low_y, high_y);
    const int64_t x2 = limit(std::ceil(world.x2 + shift) + 1.0, low_x, high_x);
    const int64_t y2 = limit(std::ceil(world.y2 + shift) + 1.0, low_y, high_y);
    return DeviceArea{x1, y1, std::max<int64_t>(x2 - x1, 0), std::max<int64_t>(y2 - y1, 0)};
}

bool FillRectangle(Gdiplus::GpGraphics& graphics, const Gdiplus::GpBrush& brush, INT x, INT y,
                   INT width, INT height) {
    // An axis-aligned rectangle clips exactly by clamping its sides.
    const Box box = BeginWorldDrawing(graphics, 2.0);
    const Box r = Intersection(Box{D(x), D(y), D(x) + D(width), D(y) + D(height)}, box);
    if (r.x1 >= r.x2 || r.y1 >= r.y2) {
        return true;
    }
    return FillShape(graphics, brush, r, false, [&](EdgePath& path) {
        path.MoveTo(r.x1, r.y1);
        path.LineTo(r.x2, r.y1);
        path.LineTo(r.x2, r.y2);
        path.LineTo(r.x1, r.y2);
        path.ClosePath();
    });
}

bool FillPolygon(Gdiplus::GpGraphics& graphics, const Gdiplus::GpBrush& brush,
                 const Gdiplus::Point* points, INT count, bool even_odd) {
    const Box box = BeginWorldDrawing(graphics, 2.0);
    const Box visible = Intersection(Extent(points, count), box);
    return FillShape(graphics, brush, visible, even_odd, [&](EdgePath& path) {
        path.MoveTo(points[0].X, points[0].Y);
        for (INT i = 1; i < count; ++i) {
            path.LineTo(points[i].X, points[i].Y);
        }
        path.ClosePath();
    });
}

} // namespace gdiplus_cairo
