// A Cairo image surface filled with one colour and lent as a device context.
#pragma once

#include "cairo_dc.h"

#include <cairo.h>

#include <cstdint>

class LentSurface {
public:
    LentSurface(int width, int height, uint32_t fill = 0xFFFFFFFF)
        : m_surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)), m_width(width),
          m_height(height) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                Row(y)[x] = fill;
            }
        }
        cairo_surface_mark_dirty(m_surface);
        m_dc = CairoDcLend(m_surface);
    }
    ~LentSurface() {
        CairoDcReturn(m_dc);
        cairo_surface_destroy(m_surface);
    }
    LentSurface(const LentSurface&) = delete;
    LentSurface& operator=(const LentSurface&) = delete;

    HDC Dc() const { return m_dc; }
    // The handle as it travels in GUI_OP_PAINT's 32-bit index argument.
    int32_t Handle() const { return static_cast<int32_t>(reinterpret_cast<intptr_t>(m_dc)); }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Premultiplied ARGB as Cairo keeps it; an opaque pixel reads as its ARGB word.
    uint32_t At(int x, int y) {
        cairo_surface_flush(m_surface);
        return Row(y)[x];
    }
    // A whole row, for reading many pixels.
    const uint32_t* FlushedRow(int y) {
        cairo_surface_flush(m_surface);
        return Row(y);
    }
    static int Alpha(uint32_t pixel) { return static_cast<int>(pixel >> 24); }
    static int Red(uint32_t pixel) { return static_cast<int>((pixel >> 16) & 0xFF); }
    static int Green(uint32_t pixel) { return static_cast<int>((pixel >> 8) & 0xFF); }
    static int Blue(uint32_t pixel) { return static_cast<int>(pixel & 0xFF); }

private:
    uint32_t* Row(int y) {
        return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(m_surface) +
                                           y * cairo_image_surface_get_stride(m_surface));
    }

    cairo_surface_t* m_surface;
    int m_width;
    int m_height;
    HDC m_dc;
};
