// The scan converter against a plain point-in-polygon count: for every pixel, each sample point
// tested against every edge in exact integer arithmetic on the same fixed-point input.
#include "raster/scan_converter.h"
#include "raster/thin_stroke.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

using namespace gdiplus_cairo;

namespace {

constexpr int kWidth = 37;
constexpr int kHeight = 23;

// The winding number of the edges about a point: those whose row the point's lies in and whose
// point on that row lies at or left of it.
int Winding(const EdgeList& edges, int64_t x, int64_t y) {
    int winding = 0;
    for (int64_t k = 0; k < edges.Count(); ++k) {
        const Edge& e = edges.Edges()[k];
        const int64_t dx = e.bottom.x - e.top.x;
        const int64_t dy = e.bottom.y - e.top.y;
        if (e.top.y <= y && y < e.bottom.y &&
            __int128{x - e.top.x} * dy >= __int128{y - e.top.y} * dx) {
            winding += e.dir;
        }
    }
    return winding;
}

// Inside samples per pixel, 8 x 4 of them or the centre alone.
std::vector<int> Reference(const EdgeList& edges, bool even_odd, bool smoothed) {
    const int across = smoothed ? 8 : 1;
    const int down = smoothed ? 4 : 1;
    std::vector<int> inside(kWidth * kHeight, 0);
    for (int y = 0; y < kHeight * down; ++y) {
        for (int x = 0; x < kWidth * across; ++x) {
            const int64_t sx = (2 * x + 1) * kFixedOne / (2 * across);
            const int64_t sy = (2 * y + 1) * kFixedOne / (2 * down);
            const int winding = Winding(edges, sx, sy);
            inside[(y / down) * kWidth + x / across] += even_odd ? winding & 1 : winding != 0;
        }
    }
    return inside;
}

struct Collect final : CoverageSink, RunSink {
    using RunSink::Row;
    std::vector<int> alpha = std::vector<int>(kWidth * kHeight, -1);
    void Row(int64_t y, int64_t x0, const uint8_t* bytes, int64_t count, const int64_t* full,
             int64_t runs) override {
        for (int64_t i = 0; i < count; ++i) {
            EXPECT_EQ(alpha[y * kWidth + x0 + i], -1) << "pixel given twice";
            alpha[y * kWidth + x0 + i] = bytes[i];
        }
        for (int64_t k = 0; k < runs; ++k) {
            for (int64_t i = full[2 * k]; i < full[2 * k + 1]; ++i) {
                EXPECT_EQ(bytes[i], 255) << "marked full, not full";
            }
        }
    }
    void Run(int64_t x, int64_t y, int64_t width, int64_t height) override {
        ASSERT_EQ(height, 1);
        for (int64_t i = x; i < x + width; ++i) {
            EXPECT_EQ(alpha[y * kWidth + i], -1) << "pixel given twice";
            alpha[y * kWidth + i] = 255;
        }
    }
};

void ExpectReference(const EdgeList& edges, bool even_odd, bool smoothed, int round) {
    Collect got;
    ASSERT_TRUE(smoothed ? CoverSmoothed(edges, even_odd, kWidth, kHeight, got)
                         : ScanAliased(edges, even_odd, kWidth, kHeight, got));
    const std::vector<int> inside = Reference(edges, even_odd, smoothed);
    for (int i = 0; i < kWidth * kHeight; ++i) {
        const int expected = smoothed ? SmoothedAlpha(inside[i]) : inside[i] * 255;
        ASSERT_EQ(std::max(got.alpha[i], 0), expected)
            << "round " << round << " pixel " << i % kWidth << "," << i / kWidth
            << (smoothed ? " smoothed" : " aliased") << (even_odd ? " even-odd" : " non-zero");
    }
}

} // namespace

// Random outlines with points anywhere in 256ths, off every side of the surface, and the view's
// outlines: along one trace on whole pixels and back along another.
TEST(ScanConverter, CoverageCountsTheSamplesInsideExactly) {
    std::mt19937 random(7);
    for (int round = 0; round < 400; ++round) {
        std::vector<FixedPoint> points;
        if (round % 4 == 3) {
            std::uniform_int_distribution<int64_t> row(-2, kHeight + 2);
            const int columns = std::uniform_int_distribution<int>(1, kWidth + 1)(random);
            std::vector<int64_t> lower;
            for (int i = 0; i <= columns; ++i) {
                points.push_back({i * kFixedOne, row(random) * kFixedOne});
                lower.push_back(round % 8 == 3 ? points.back().y : row(random) * kFixedOne);
            }
            for (int i = columns - 1; i >= 0; --i) {
                points.push_back({i * kFixedOne, lower[static_cast<std::size_t>(i)]});
            }
        } else {
            std::uniform_int_distribution<int64_t> x(-8 * kFixedOne, (kWidth + 8) * kFixedOne);
            std::uniform_int_distribution<int64_t> y(-8 * kFixedOne, (kHeight + 8) * kFixedOne);
            std::uniform_int_distribution<int64_t> far(-(int64_t(1) << 39), int64_t(1) << 39);
            const int count = std::uniform_int_distribution<int>(3, 16)(random);
            for (int i = 0; i < count; ++i) {
                // Whole and half pixels too, where sample points lie on edges; and now and then a
                // point as far off as a whole-number coordinate can lie.
                const int64_t snap = round % 3 == 0 ? kFixedOne / 2 : 1;
                points.push_back({x(random) / snap * snap, y(random) / snap * snap});
                if (round % 5 == 1 && i % 4 == 0) {
                    (i % 8 == 0 ? points.back().x : points.back().y) = far(random);
                }
            }
        }
        EdgeList edges;
        edges.AddPolygon(points.data(), static_cast<int64_t>(points.size()));
        for (int mode = 0; mode < 4; ++mode) {
            ExpectReference(edges, mode % 2 == 0, mode < 2, round);
        }
    }
}

// A thin pen's outline, filled by the non-zero rule: it covers every point within the pen's half
// width of a segment (beyond the ends by half a width, the square caps) and none further than a
// miter can reach.
TEST(ScanConverter, ThinStrokesCoverTheirOutlinesSamples) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> x(-4.0, kWidth + 4.0);
    std::uniform_real_distribution<double> y(-4.0, kHeight + 4.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto fixed = [](double v) { return static_cast<int64_t>(std::lround(v * kFixedOne)); };
    for (int round = 0; round < 200; ++round) {
        EdgeList edges;
        ThinStroke stroke;
        ASSERT_TRUE(stroke.Begin(12, edges));
        std::vector<std::pair<double, double>> line;
        for (int i = std::uniform_int_distribution<int>(2, 12)(random); i > 0; --i) {
            line.emplace_back(std::round(x(random) * 2) / 2, std::round(y(random) * 2) / 2);
            stroke.LineTo(line.back().first, line.back().second);
        }
        stroke.Finish();
        ExpectReference(edges, false, true, round);
        // Distance to segment k's body, t along it and u across in pixels.
        const auto along = [&](std::size_t k, double px, double py, double& t, double& u) {
            const double dx = line[k + 1].first - line[k].first;
            const double dy = line[k + 1].second - line[k].second;
            const double length = std::hypot(dx, dy);
            t = ((px - line[k].first) * dx + (py - line[k].second) * dy) / length;
            u = ((py - line[k].second) * dx - (px - line[k].first) * dy) / length;
            return length;
        };
        for (int probe = 0; probe < 200; ++probe) {
            const std::size_t k =
                std::uniform_int_distribution<std::size_t>(0, line.size() - 2)(random);
            double t = 0.0;
            double u = 0.0;
            const double length = along(k, line[k].first, line[k].second, t, u);
            if (length == 0.0) {
                continue;
            }
            const double low = k == 0 ? -0.45 : 0.0;
            const double high = length + (k + 2 == line.size() ? 0.45 : 0.0);
            t = low + (high - low) * unit(random);
            u = 0.9 * unit(random) - 0.45;
            const double dx = (line[k + 1].first - line[k].first) / length;
            const double dy = (line[k + 1].second - line[k].second) / length;
            const double px = line[k].first + t * dx - u * dy;
            const double py = line[k].second + t * dy + u * dx;
            EXPECT_NE(Winding(edges, fixed(px), fixed(py)), 0) << "round " << round;
            const double fx = x(random);
            const double fy = y(random);
            bool far = true;
            for (std::size_t j = 0; j + 1 < line.size(); ++j) {
                const double reach = along(j, fx, fy, t, u);
                far = far && std::hypot(std::max({-t, t - reach, 0.0}), u) > 5.1;
            }
            if (far) {
                EXPECT_EQ(Winding(edges, fixed(fx), fixed(fy)), 0) << "round " << round;
            }
        }
    }
}
