// The Linux picture: a Cairo image surface, lent through the drawing layer's device-context table.
#include "ViewCanvas.h"

#include "HostError.h"
#include "cairo_dc.h"

namespace sehost {

struct ViewCanvas::Platform {
    cairo_surface_t* surface = nullptr;
    HDC lent = nullptr;
};

ViewCanvas::ViewCanvas(int32_t width, int32_t height)
    : m_width(width), m_height(height), m_platform(std::make_unique<Platform>()) {
    m_platform->surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(m_platform->surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(m_platform->surface);
        throw HostError("cannot make a view surface of " + std::to_string(width) + " x " +
                        std::to_string(height));
    }
}

ViewCanvas::~ViewCanvas() {
    Return();
    cairo_surface_destroy(m_platform->surface);
}

void ViewCanvas::Clear(uint32_t argb) {
    cairo_t* cr = cairo_create(m_platform->surface);
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                          (argb & 0xFF) / 255.0, (argb >> 24) / 255.0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(m_platform->surface);
}

int32_t ViewCanvas::Lend() {
    Return();
    m_platform->lent = CairoDcLend(m_platform->surface);
    if (m_platform->lent == nullptr) {
        throw HostError("the drawing layer lent no device context");
    }
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(m_platform->lent));
}

void ViewCanvas::Return() {
    if (m_platform->lent != nullptr) {
        CairoDcReturn(m_platform->lent);
        m_platform->lent = nullptr;
        cairo_surface_mark_dirty(m_platform->surface);
    }
}

void ViewCanvas::Place(const ViewCanvas& picture, int32_t top) {
    cairo_t* cr = cairo_create(m_platform->surface);
    cairo_set_source_surface(cr, picture.Cairo(), 0, top);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_rectangle(cr, 0, top, picture.Width(), picture.Height());
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_flush(m_platform->surface);
}

const uint32_t* ViewCanvas::Row(int32_t y) const {
    cairo_surface_flush(m_platform->surface);
    const unsigned char* data = cairo_image_surface_get_data(m_platform->surface);
    return reinterpret_cast<const uint32_t*>(
        data + static_cast<size_t>(y) * cairo_image_surface_get_stride(m_platform->surface));
}

void ViewCanvas::WritePng(const std::string& path) const {
    const cairo_status_t status = cairo_surface_write_to_png(m_platform->surface, path.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        throw HostError("cannot write " + path + ": " + cairo_status_to_string(status));
    }
}

cairo_surface_t* ViewCanvas::Cairo() const {
    return m_platform->surface;
}

} // namespace sehost
