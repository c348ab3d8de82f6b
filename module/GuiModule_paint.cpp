// The paint: background, centre line and trace, drawn through the graphics library's wrapper
// classes into the device context that the host lends for one call.
#include "GuiModule.h"

#include "plugs.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// Rounds to float the way the hardware does, but without the undefined conversion of a
// finite value beyond the float range: those become infinities.
float NarrowToFloat(double value) {
    const double largest = std::numeric_limits<float>::max();
    if (value > largest) {
        return std::numeric_limits<float>::infinity();
    }
    if (value < -largest) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value); // also carries NaN
}

// Truncates toward zero; values beyond the 32-bit range stick to its ends so that the drawing
// layer can clip them, and NaN (from an infinite scale times 0) lands on the fallback row.
int32_t TruncateRow(double value, int32_t fallback) {
    if (std::isnan(value)) {
        return fallback;
    }
    if (value >= 2147483647.0) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value <= -2147483648.0) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

// extent × percent / 100 with the product kept to its low 32 bits, as the 32-bit arithmetic the
// picture was designed with did, but without relying on signed overflow.
int32_t GradientCoordinate(int32_t extent, int32_t percent) {
    const uint32_t product = static_cast<uint32_t>(extent) * static_cast<uint32_t>(percent);
    const int32_t wrapped = product <= 0x7FFFFFFFu
                                ? static_cast<int32_t>(product)
                                : -static_cast<int32_t>(~product) - 1; // two's complement
    return wrapped / 100;
}

} // namespace

void GuiModule::Paint(int32_t dc, int32_t* size) {
    if (size == nullptr) {
        return;
    }
    m_request_count = 0;

    // Wider views show the 799 newest columns; a negative size is drawn as an empty one.
    int32_t width = size[0];
    if (width > kMaxWidth) {
        width = kMaxWidth;
    }
    if (width < 0) {
        width = 0;
    }
    const int32_t height = size[1] < 0 ? 0 : size[1];

    if (width != m_last_width || height != m_last_height) {
        m_rebuild_points = true;
    }
    const int32_t centre_row = height / 2;
    const float scale =
        NarrowToFloat((static_cast<double>(height) - 1.0) * 0.5 * static_cast<double>(m_magnify));

    Gdiplus::Graphics graphics(reinterpret_cast<HDC>(static_cast<intptr_t>(dc)));

    if (m_background_rgb != -1) {
        Gdiplus::SolidBrush background{Gdiplus::Color(m_background.argb)};
        graphics.FillRectangle(&background, 0, 0, width, height);
    }
    if (m_active == ACTIVE_OFF) {
        return;
    }

    if (m_fx_mode >= 2) {
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    }

    Gdiplus::Pen pen{Gdiplus::Color(m_waveform.argb), 1.0f};
    graphics.DrawLine(&pen, 0, centre_row, width - 1, centre_row);

    const Gdiplus::Point gradient_start(0, 0);
    const Gdiplus::Point gradient_end(GradientCoordinate(width, m_shading_x_percent),
                                      GradientCoordinate(height, m_shading_y_percent));
    Gdiplus::LinearGradientBrush gradient(gradient_start, gradient_end,
                                          Gdiplus::Color(m_waveform.argb),
                                          Gdiplus::Color(m_shading.argb));
    gradient.SetWrapMode(Gdiplus::WrapModeTileFlipX);

    if (m_rebuild_points) {
        RebuildPoints(width, height, centre_row, scale);
    }

    if ((m_fx_mode & 1) != 0) {
        graphics.FillPolygon(&gradient, m_points, 2 * width + 1, Gdiplus::FillModeAlternate);
    } else {
        graphics.DrawLines(&pen, m_points, width);
        graphics.DrawLines(&pen, m_points + width + 1, width);
    }
    // gradient, pen and graphics are released here, in that order.
}

void GuiModule::RebuildPoints(int32_t width, int32_t height, int32_t centre_row, float scale) {
    m_rebuild_points = false;
    m_last_width = width;
    m_last_height = height;

    // Scrolling: the newest entry (just before the ring position) lands at x = width.
    int32_t k = 0;
    if (m_scrolling) {
        k = m_ring_pos - 1 - width;
        if (k < 0) {
            k += kTraceLength;
        }
    }
    const double centre = centre_row;
    const double widened_scale = scale;
    for (int32_t i = 0; i <= width; ++i) {
        const double upper = centre - static_cast<double>(m_trace_upper[k]) * widened_scale;
        const double lower = centre - static_cast<double>(m_trace_lower[k]) * widened_scale;
        m_points[i] = Gdiplus::Point(i, TruncateRow(upper, centre_row));
        // At i == width both name the same point; the lower trace's row stands.
        m_points[2 * width - i] = Gdiplus::Point(i, TruncateRow(lower, centre_row));
        k = k + 1 == kTraceLength ? 0 : k + 1;
    }
}
