// The Windows picture: a 32-bit top-down DIB section selected into a memory DC, which the
// module's GDI+ draws into directly.
#include "ViewCanvas.h"

#include "HostError.h"

#include <windows.h>

#include <algorithm>

namespace sehost {

struct ViewCanvas::Platform {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    uint32_t* pixels = nullptr;
};

ViewCanvas::ViewCanvas(int32_t width, int32_t height)
    : m_width(width), m_height(height), m_platform(std::make_unique<Platform>()) {
    Platform& p = *m_platform;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // negative: the first row in memory is the top one
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    p.dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    if (p.dc != nullptr) {
        p.bitmap = CreateDIBSection(p.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    }
    if (p.bitmap == nullptr || bits == nullptr) {
        if (p.dc != nullptr) {
            DeleteDC(p.dc);
        }
        throw HostError("cannot make a view bitmap of " + std::to_string(width) + " x " +
                        std::to_string(height));
    }
    p.pixels = static_cast<uint32_t*>(bits);
    p.previous = SelectObject(p.dc, p.bitmap);
}

ViewCanvas::~ViewCanvas() {
    Platform& p = *m_platform;
    SelectObject(p.dc, p.previous);
    DeleteObject(p.bitmap);
    DeleteDC(p.dc);
}

void ViewCanvas::Clear(uint32_t argb) {
    GdiFlush();
    // The bitmap holds premultiplied BGRA, which reads as 0xAARRGGBB on this little-endian CPU.
    const uint32_t a = argb >> 24;
    const auto scale = [a](uint32_t c) { return (c * a + 127) / 255; };
    const uint32_t premultiplied = (a << 24) | (scale((argb >> 16) & 0xFF) << 16) |
                                   (scale((argb >> 8) & 0xFF) << 8) | scale(argb & 0xFF);
    const size_t count = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    for (size_t i = 0; i < count; ++i) {
        m_platform->pixels[i] = premultiplied;
    }
}

int32_t ViewCanvas::Lend() {
    GdiFlush();
    // GDI handles carry 32 significant bits on 64-bit Windows too; the module widens them back
    // with the sign.
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(m_platform->dc));
}

void ViewCanvas::Return() {
    GdiFlush();
}

void ViewCanvas::Place(const ViewCanvas& picture, int32_t top) {
    const int32_t width = std::min(m_width, picture.Width());
    for (int32_t y = 0; y < picture.Height(); ++y) {
        if (top + y >= 0 && top + y < m_height) {
            std::copy(picture.Row(y), picture.Row(y) + width,
                      m_platform->pixels + static_cast<size_t>(top + y) * m_width);
        }
    }
}

const uint32_t* ViewCanvas::Row(int32_t y) const {
    GdiFlush();
    return m_platform->pixels + static_cast<size_t>(y) * static_cast<size_t>(m_width);
}

void ViewCanvas::WritePng(const std::string& path) const {
    WriteRgbaPng(path, Row(0), m_width, m_height, m_width);
}

} // namespace sehost
