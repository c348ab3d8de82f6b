#include "native_objects.h"

namespace gdiplus_cairo {

void SetSourceArgb(cairo_t* cr, Gdiplus::ARGB argb) {
    // Like Cairo's rgba sources, GDI+ colours are not premultiplied; Cairo blends them over what
    // lies beneath (its default operator, which the graphics never changes).
    cairo_set_source_rgba(cr, D((argb >> 16) & 0xFF) / 255.0, D((argb >> 8) & 0xFF) / 255.0,
                          D(argb & 0xFF) / 255.0, D(argb >> 24) / 255.0);
}

Box BeginWorldDrawing(Gdiplus::GpGraphics& graphics, double margin) {
    cairo_t* cr = graphics.cr;
    cairo_new_path(cr);
    cairo_identity_matrix(cr);
    const double shift = PixelCentreShift(graphics.pixel_offset);
    cairo_translate(cr, shift, shift);
    cairo_set_antialias(cr, AntiAliased(graphics.smoothing) ? CAIRO_ANTIALIAS_DEFAULT
                                                            : CAIRO_ANTIALIAS_NONE);
    Box box{};
    cairo_clip_extents(cr, &box.x1, &box.y1, &box.x2, &box.y2);
    return SafeBox(box, margin);
}

Box DeviceClip(cairo_t* cr) {
    cairo_matrix_t matrix;
    cairo_get_matrix(cr, &matrix);
    cairo_identity_matrix(cr);
    Box clip{};
    cairo_clip_extents(cr, &clip.x1, &clip.y1, &clip.x2, &clip.y2);
    cairo_set_matrix(cr, &matrix);
    return clip;
}

bool DirectPixels(cairo_t* cr, PixelImage& image) {
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
    const Box clip = DeviceClip(cr);
    return clip.x1 <= 0.0 && clip.y1 <= 0.0 && clip.x2 >= D(image.width) &&
           clip.y2 >= D(image.height);
}

bool SetBrushSource(cairo_t* cr, const Gdiplus::GpBrush* brush) {
    if (auto* solid = dynamic_cast<const SolidFill*>(brush)) {
        SetSourceArgb(cr, solid->color);
        return true;
    }
    if (auto* gradient = dynamic_cast<const LineGradient*>(brush)) {
        // The pattern's points are world points: it takes the translation now in force.
        cairo_set_source(cr, gradient->pattern);
        return true;
    }
    return false;
}

} // namespace gdiplus_cairo
