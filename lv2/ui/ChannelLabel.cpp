#include "ChannelLabel.h"

#include "Protocol.h"

namespace lv2ui {

namespace {

struct Point {
    int8_t x, y;
};
// A glyph on a 4 x 6 grid, y down: strokes, each ending at a {-1, -1}, and one more {-1, -1}
// after the last.
struct Glyph {
    Point points[12];
};

constexpr Point kEnd{-1, -1};
constexpr Glyph kLetterL{{{0, 0}, {0, 6}, {4, 6}, kEnd, kEnd}};
constexpr Glyph kLetterR{
    {{0, 6}, {0, 0}, {3, 0}, {4, 1}, {4, 2}, {3, 3}, {0, 3}, kEnd, {2, 3}, {4, 6}, kEnd, kEnd}};
constexpr Glyph kPlus{{{0, 3}, {4, 3}, kEnd, {2, 1}, {2, 5}, kEnd, kEnd}};

constexpr double kUnit = 2.0;   // pixels per grid step
constexpr double kAdvance = 6;  // grid steps from one glyph to the next
constexpr double kMargin = 4.0; // pixels around the text, inside its box

} // namespace

void DrawChannelLabel(cairo_surface_t* picture, int32_t channel) {
    const Glyph* mix[] = {&kLetterL, &kPlus, &kLetterR};
    const Glyph* left[] = {&kLetterL};
    const Glyph* right[] = {&kLetterR};
    const Glyph* const* text = channel == lv2proto::kChannelLeft    ? left
                               : channel == lv2proto::kChannelRight ? right
                                                                    : mix;
    const int count =
        channel == lv2proto::kChannelLeft || channel == lv2proto::kChannelRight ? 1 : 3;

    const double text_width = ((count - 1) * kAdvance + 4) * kUnit;
    const double box_width = text_width + 2 * kMargin;
    const double box_height = 6 * kUnit + 2 * kMargin;
    const int width = cairo_image_surface_get_width(picture);
    const int height = cairo_image_surface_get_height(picture);
    if (width < 2 * box_width || height < 2 * box_height) {
        return;
    }
    cairo_t* cr = cairo_create(picture);
    const double left_edge = width - box_width - 2;
    cairo_rectangle(cr, left_edge, 2, box_width, box_height);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 1.5);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    for (int g = 0; g < count; ++g) {
        const double x0 = left_edge + kMargin + g * kAdvance * kUnit;
        const double y0 = 2 + kMargin;
        bool drawing = false;
        for (const Point& p : text[g]->points) {
            if (p.x < 0) {
                if (!drawing) {
                    break; // the second end in a row ends the glyph
                }
                drawing = false;
                continue;
            }
            const double x = x0 + p.x * kUnit;
            const double y = y0 + p.y * kUnit;
            if (drawing) {
                cairo_line_to(cr, x, y);
            } else {
                cairo_move_to(cr, x, y);
                drawing = true;
            }
        }
    }
    cairo_stroke(cr);
    cairo_destroy(cr);
}

} // namespace lv2ui
