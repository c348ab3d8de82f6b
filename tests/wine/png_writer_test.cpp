// The preview's own PNG writer (used where Cairo is not available) must give files that a real
// PNG reader takes, with the same pixels as Cairo's writer gives for the same picture.
#include "HostError.h"
#include "ViewCanvas.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<uint32_t> ReadBack(const std::string& path, int& width, int& height) {
    std::vector<uint32_t> pixels;
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        width = cairo_image_surface_get_width(s);
        height = cairo_image_surface_get_height(s);
        const int stride = cairo_image_surface_get_stride(s);
        const unsigned char* data = cairo_image_surface_get_data(s);
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
            pixels.insert(pixels.end(), row, row + width);
        }
    }
    cairo_surface_destroy(s);
    return pixels;
}

// Premultiplied pixels of every kind: clear, opaque and partly covered.
std::vector<uint32_t> RandomPicture(int stride, int height, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint32_t> pixels(static_cast<size_t>(stride) * height);
    for (uint32_t& p : pixels) {
        const uint32_t kind = random() % 4;
        const uint32_t a = kind == 0 ? 0 : kind == 1 ? 255 : random() % 256;
        const auto channel = [&] { return a == 0 ? 0 : static_cast<uint32_t>(random() % (a + 1)); };
        p = (a << 24) | (channel() << 16) | (channel() << 8) | channel();
    }
    return pixels;
}

TEST(PngWriter, GivesTheSamePixelsAsCairosWriter) {
    const std::string dir = testing::TempDir();
    // One pixel; one stored block; several blocks (over 64 KiB of rows); rows with a gap.
    const struct {
        int width, height, stride;
    } cases[] = {{1, 1, 1}, {40, 30, 40}, {301, 97, 301}, {50, 400, 64}};
    unsigned seed = 1;
    for (const auto& c : cases) {
        const auto pixels = RandomPicture(c.stride, c.height, seed++);
        const std::string ours = dir + "/ours.png";
        sehost::WriteRgbaPng(ours, pixels.data(), c.width, c.height, c.stride);

        cairo_surface_t* s = cairo_image_surface_create_for_data(
            reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(pixels.data())),
            CAIRO_FORMAT_ARGB32, c.width, c.height, c.stride * 4);
        const std::string theirs = dir + "/theirs.png";
        ASSERT_EQ(cairo_surface_write_to_png(s, theirs.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(s);

        int w = 0;
        int h = 0;
        const auto read = ReadBack(ours, w, h);
        ASSERT_EQ(w, c.width);
        ASSERT_EQ(h, c.height);
        int tw = 0;
        int th = 0;
        EXPECT_EQ(read, ReadBack(theirs, tw, th)) << c.width << "x" << c.height;
    }
}

TEST(PngWriter, RefusesAFileItCannotWrite) {
    const uint32_t pixel = 0xFF000000;
    EXPECT_THROW(sehost::WriteRgbaPng("/nonexistent/folder/x.png", &pixel, 1, 1, 1),
                 sehost::HostError);
}

} // namespace
