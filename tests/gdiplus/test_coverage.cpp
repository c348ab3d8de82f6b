// The layer's anti-aliased coverage against Cairo's own fill of the same polygon, byte for byte.
#include "coverage.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using gdiplus_cairo::FixedPoint;

struct Case {
    int width, height;
    std::vector<FixedPoint> points;
    std::vector<std::size_t> starts; // of each closed contour, as a stroke's outline has several
};

// Polygons of many kinds over small surfaces: fractional and whole-pixel points, points off every
// side, near-vertical and near-horizontal runs, collinear and repeated points, tiny and huge.
Case RandomCase(std::mt19937& random) {
    const auto uniform = [&](int64_t low, int64_t high) {
        return std::uniform_int_distribution<int64_t>(low, high)(random);
    };
    Case c;
    c.width = static_cast<int>(uniform(1, 90));
    c.height = static_cast<int>(uniform(1, 90));
    const int64_t w = c.width * 256;
    const int64_t h = c.height * 256;
    const int kind = static_cast<int>(uniform(0, 6));
    const int count = static_cast<int>(uniform(3, uniform(0, 3) == 0 ? 200 : 24));
    FixedPoint p{uniform(-w / 3, w + w / 3), uniform(-h / 3, h + h / 3)};
    for (int i = 0; i < count; ++i) {
        switch (kind) {
        case 0: // anywhere around the surface
            p = {uniform(-w / 3, w + w / 3), uniform(-h / 3, h + h / 3)};
            break;
        case 1: // whole and half pixels
            p = {uniform(-4, c.width * 2 + 4) * 128, uniform(-4, c.height * 2 + 4) * 128};
            break;
        case 2: // nearly vertical or horizontal steps
            if (uniform(0, 1) == 0) {
                p = {p.x + uniform(-3, 3), uniform(-h / 4, h + h / 4)};
            } else {
                p = {uniform(-w / 4, w + w / 4), p.y + uniform(-3, 3)};
            }
            break;
        case 3: // tiny
            p = {w / 2 + uniform(-300, 300), h / 2 + uniform(-300, 300)};
            break;
        case 4: // huge
            p = {uniform(-5000000, 5000000), uniform(-5000000, 5000000)};
            break;
        case 5: // a waveform: one point per column, back along a lower line
            p = {i < count / 2 ? i * w / (count / 2) : (count - i) * w / (count / 2),
                 i < count / 2 ? uniform(0, h / 2) : uniform(h / 2, h)};
            break;
        default: // collinear and repeated points
            if (!c.points.empty() && uniform(0, 2) == 0) {
                const FixedPoint q = c.points.back();
                const int64_t k = uniform(-1, 3);
                p = {q.x + k * (q.x - p.x), q.y + k * (q.y - p.y)};
            } else {
                p = {uniform(-w / 4, w + w / 4), uniform(-h / 4, h + h / 4)};
            }
            break;
        }
        c.points.push_back(p);
    }
    c.starts = {0};
    // Each contour takes three points at least.
    for (int k = static_cast<int>(uniform(0, 6)); k < 2 && c.starts.back() + 6 <= c.points.size();
         ++k) {
        c.starts.push_back(static_cast<std::size_t>(
            uniform(static_cast<int64_t>(c.starts.back()) + 3, count - 3)));
    }
    c.starts.push_back(c.points.size());
    return c;
}

// Cairo's A8 blit reads a span it never wrote for a row whose only change lies at the right end of
// what it renders (rare slivers; its A1 blit checks for this): there its result is undefined. No
// such row occurs among these cases.
std::vector<uint8_t> CairoCoverage(const Case& c, bool even_odd) {
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, c.width);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(stride) * c.height, 0);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(bytes.data(), CAIRO_FORMAT_A8,
                                                                   c.width, c.height, stride);
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    cairo_set_fill_rule(cr, even_odd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    for (std::size_t k = 0; k + 1 < c.starts.size(); ++k) {
        for (std::size_t i = c.starts[k]; i < c.starts[k + 1]; ++i) {
            const double x = static_cast<double>(c.points[i].x) / 256.0;
            const double y = static_cast<double>(c.points[i].y) / 256.0;
            if (i == c.starts[k]) {
                cairo_move_to(cr, x, y);
            } else {
                cairo_line_to(cr, x, y);
            }
        }
        cairo_close_path(cr);
    }
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    std::vector<uint8_t> packed;
    for (int y = 0; y < c.height; ++y) {
        packed.insert(packed.end(), bytes.begin() + y * stride,
                      bytes.begin() + y * stride + c.width);
    }
    return packed;
}

class Image final : public gdiplus_cairo::CoverageSink {
public:
    Image(int width, int height) : width(width), height(height), bytes(width * height, 0) {}
    void Row(int64_t y, int64_t x0, const uint8_t* alpha, int64_t count, const int64_t* full,
             int64_t runs) override {
        ASSERT_GT(y, last_y);
        ASSERT_TRUE(y < height && x0 >= 0 && count > 0 && x0 + count <= width);
        for (int64_t k = 0; k < runs; ++k) {
            ASSERT_TRUE(full[2 * k] < full[2 * k + 1] && full[2 * k + 1] <= count);
            for (int64_t i = full[2 * k]; i < full[2 * k + 1]; ++i) {
                ASSERT_EQ(alpha[i], 0xFF);
            }
        }
        last_y = y;
        std::copy(alpha, alpha + count, bytes.begin() + y * width + x0);
    }
    int width, height;
    int64_t last_y = -1;
    std::vector<uint8_t> bytes;
};

std::string Describe(const Case& c, bool even_odd) {
    std::string text = std::to_string(c.width) + "x" + std::to_string(c.height) +
                       (even_odd ? " even-odd:" : " nonzero:");
    for (const FixedPoint& p : c.points) {
        text += " (" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
    }
    return text;
}

TEST(Coverage, MatchesCairoByteForByte) {
    std::mt19937 random(20261208);
    int compared = 0;
    for (int n = 0; n < 3000; ++n) {
        const Case c = RandomCase(random);
        for (const bool even_odd : {false, true}) {
            gdiplus_cairo::EdgeBuilder edges(c.width, c.height);
            bool polygons = true;
            for (std::size_t k = 0; polygons && k + 1 < c.starts.size(); ++k) {
                polygons = gdiplus_cairo::AddPolygon(edges, c.points.data() + c.starts[k],
                                                     c.starts[k + 1] - c.starts[k]);
            }
            if (!polygons) {
                continue; // a rectilinear contour, which AddPolygon refuses
            }
            Image image(c.width, c.height);
            ASSERT_TRUE(gdiplus_cairo::CoverEdges(edges, even_odd, image));
            const std::vector<uint8_t> expected = CairoCoverage(c, even_odd);
            for (std::size_t i = 0; i < expected.size(); ++i) {
                ASSERT_EQ(image.bytes[i], expected[i])
                    << "case " << n << ", pixel (" << i % c.width << ", " << i / c.width << ") of "
                    << Describe(c, even_odd);
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 5000);
}

} // namespace
