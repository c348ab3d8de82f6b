// The picture a view paints into: pixels the host owns, lent to the module as a device context
// for the span of one paint. Cairo with the drawing layer's device-context table on Linux, a DIB
// section selected into a memory DC on Windows; the pixel layout is the same on both.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#ifndef _WIN32
#include <cairo.h>
#endif

namespace sehost {

class ViewCanvas {
public:
    // Throws HostError when the platform cannot make a picture of this size.
    ViewCanvas(int32_t width, int32_t height);
    ~ViewCanvas();
    ViewCanvas(const ViewCanvas&) = delete;
    ViewCanvas& operator=(const ViewCanvas&) = delete;

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }

    // Sets every pixel to one colour (ARGB, straight alpha).
    void Clear(uint32_t argb);
    // Lends the pixels as a device context and returns its handle as the 32-bit value that
    // travels with a paint request. Throws HostError when the platform lends none.
    int32_t Lend();
    // Ends the loan; drawing still under way on the device context lands first.
    void Return();

    // Copies another picture of the same width over the rows from top down (a contact sheet).
    void Place(const ViewCanvas& picture, int32_t top);

    // Row y of the picture, top row first: 32-bit pixels 0xAARRGGBB with premultiplied alpha.
    const uint32_t* Row(int32_t y) const;
    // Throws HostError when the file cannot be written.
    void WritePng(const std::string& path) const;

#ifndef _WIN32
    cairo_surface_t* Cairo() const;
#endif

private:
    struct Platform;
    int32_t m_width;
    int32_t m_height;
    std::unique_ptr<Platform> m_platform;
};

// Converts premultiplied 0xAARRGGBB pixels to 8-bit RGBA bytes with straight alpha, rounded the
// way Cairo's own PNG output rounds; out takes 4 * count bytes.
void StraightRgba(const uint32_t* pixels, int32_t count, uint8_t* out);

// Writes premultiplied 0xAARRGGBB rows as an 8-bit RGBA PNG, the way Cairo does (straight
// alpha, rounded), without a compression library: the image data goes in stored deflate blocks.
// stride is in pixels. Throws HostError when the file cannot be written.
void WriteRgbaPng(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height,
                  int32_t stride);

} // namespace sehost
