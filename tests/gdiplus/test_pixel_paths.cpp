// The layer writes shapes straight into the pixels of a plain image surface. Drawn through a
// subsurface, the same calls go to Cairo as a coverage mask; both must give the same picture.
#include "cairo_dc.h"
#include "gdiplus.h"
#include "pixels.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

using namespace Gdiplus;

namespace {

using Draw = std::function<void(Graphics&)>;

// A valid premultiplied pixel: no channel above the alpha.
uint32_t RandomPixel(std::mt19937& random) {
    const uint32_t alpha = std::uniform_int_distribution<uint32_t>(0, 255)(random);
    std::uniform_int_distribution<uint32_t> channel(0, alpha);
    return alpha << 24 | channel(random) << 16 | channel(random) << 8 | channel(random);
}

// Draws onto a copy of the background, either on the image itself or through a subsurface that
// covers all of it, and returns the pixels.
std::vector<uint32_t> Drawn(const std::vector<uint32_t>& background, int width, int height,
                            bool through_subsurface, const Draw& draw) {
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    const auto row = [&](int y) {
        return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(image) +
                                           y * cairo_image_surface_get_stride(image));
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            row(y)[x] = background[y * width + x];
        }
    }
    cairo_surface_mark_dirty(image);
    cairo_surface_t* target = through_subsurface
                                  ? cairo_surface_create_for_rectangle(image, 0, 0, width, height)
                                  : cairo_surface_reference(image);
    const HDC dc = CairoDcLend(target);
    {
        Graphics graphics(dc);
        draw(graphics);
    }
    CairoDcReturn(dc);
    cairo_surface_destroy(target);
    cairo_surface_flush(image);
    std::vector<uint32_t> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(row(y)[x]);
        }
    }
    cairo_surface_destroy(image);
    return pixels;
}

int LargestChannelDifference(uint32_t a, uint32_t b) {
    int largest = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        largest = std::max(largest, std::abs(static_cast<int>((a >> shift) & 0xFF) -
                                             static_cast<int>((b >> shift) & 0xFF)));
    }
    return largest;
}

std::vector<Point> RandomPoints(std::mt19937& random, int count, int width, int height) {
    std::uniform_int_distribution<int> x(-15, width + 15);
    std::uniform_int_distribution<int> y(-15, height + 15);
    std::uniform_int_distribution<int> far(-100000, 100000);
    std::uniform_int_distribution<int> pick(0, 9);
    std::vector<Point> points;
    for (int i = 0; i < count; ++i) {
        points.emplace_back(pick(random) == 0 ? far(random) : x(random), y(random));
    }
    return points;
}

constexpr int kWidth = 47;
constexpr int kHeight = 31;

} // namespace

// Aliased and smoothed alike: the layer draws both into the pixels itself.
TEST(PixelPaths, ThinPolylinesMatchTheGeneralPathPixelForPixel) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> count(2, 12);
    std::uniform_int_distribution<int> alpha_kind(0, 3);
    for (int round = 0; round < 600; ++round) {
        std::vector<uint32_t> background;
        for (int i = 0; i < kWidth * kHeight; ++i) {
            background.push_back(RandomPixel(random));
        }
        const std::vector<Point> points = RandomPoints(random, count(random), kWidth, kHeight);
        // Opaque, fully transparent and translucent pens; translucent lines that cross
        // themselves show whether shared pixels are blended once.
        const int kind = alpha_kind(random);
        const uint32_t alpha = kind == 0 ? 255u
                               : kind == 1
                                   ? 0u
                                   : std::uniform_int_distribution<uint32_t>(1, 254)(random);
        const ARGB colour = alpha << 24 | std::uniform_int_distribution<ARGB>(0, 0xFFFFFF)(random);
        const PixelOffsetMode offset =
            round % 2 == 0 ? PixelOffsetModeDefault : PixelOffsetModeHighQuality;
        const SmoothingMode smoothing =
            round % 4 < 2 ? SmoothingModeDefault : SmoothingModeAntiAlias;
        const Draw draw = [&](Graphics& g) {
            g.SetPixelOffsetMode(offset);
            g.SetSmoothingMode(smoothing);
            Pen pen{Color(colour)};
            g.DrawLines(&pen, points.data(), static_cast<INT>(points.size()));
            g.DrawLine(&pen, points[0].X, points[0].Y, points.back().X, points.back().Y);
        };
        EXPECT_EQ(Drawn(background, kWidth, kHeight, false, draw),
                  Drawn(background, kWidth, kHeight, true, draw))
            << "round " << round << " smoothing " << smoothing << " colour " << std::hex << colour;
    }
}

// The gradient's colours may round differently by a level, alpha and colour alike; blended over a
// translucent pixel the two can add up to two levels.
TEST(PixelPaths, GradientFillsMatchTheGeneralPathUpToRounding) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> count(3, 10);
    std::uniform_int_distribution<int> end(-60, 60);
    int differing = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<uint32_t> background;
        for (int i = 0; i < kWidth * kHeight; ++i) {
            background.push_back(RandomPixel(random));
        }
        const std::vector<Point> points = RandomPoints(random, count(random), kWidth, kHeight);
        Point from(end(random), end(random));
        Point to(end(random), end(random));
        if (from.X == to.X && from.Y == to.Y) {
            to.X += 1;
        }
        std::uniform_int_distribution<ARGB> any_colour;
        const ARGB colour1 = any_colour(random) | (round % 3 == 0 ? 0xFF000000u : 0u);
        const ARGB colour2 = any_colour(random);
        const Point corner(end(random) / 4, end(random) / 4);
        const Draw draw = [&](Graphics& g) {
            g.SetSmoothingMode(round % 2 == 0 ? SmoothingModeDefault : SmoothingModeAntiAlias);
            g.SetPixelOffsetMode((round / 2) % 2 == 0 ? PixelOffsetModeDefault
                                                      : PixelOffsetModeHighQuality);
            LinearGradientBrush brush(from, to, Color(colour1), Color(colour2));
            brush.SetWrapMode((round / 4) % 2 == 0 ? WrapModeTileFlipX : WrapModeTile);
            // One shape per drawing, so that rounding differences do not pile up.
            if (round % 8 < 6) {
                g.FillPolygon(&brush, points.data(), static_cast<INT>(points.size()),
                              round % 5 == 0 ? FillModeWinding : FillModeAlternate);
            } else {
                g.FillRectangle(&brush, corner.X, corner.Y, 20, 9);
            }
        };
        const std::vector<uint32_t> fast = Drawn(background, kWidth, kHeight, false, draw);
        const std::vector<uint32_t> general = Drawn(background, kWidth, kHeight, true, draw);
        for (std::size_t i = 0; i < fast.size(); ++i) {
            ASSERT_LE(LargestChannelDifference(fast[i], general[i]), 2)
                << "round " << round << " pixel " << i % kWidth << "," << i / kWidth << std::hex
                << " fast " << fast[i] << " general " << general[i];
            differing += fast[i] != general[i];
        }
    }
    // The rounding may differ here and there, the shapes not at all.
    EXPECT_LT(differing, 300 * kWidth * kHeight / 20);
}

TEST(PixelPaths, BlendingRoundsEachChannelToTheNearestLevel) {
    std::mt19937 random(9);
    for (int i = 0; i < 100000; ++i) {
        const uint32_t source = RandomPixel(random);
        const uint32_t destination = RandomPixel(random);
        const uint32_t blended = gdiplus_cairo::BlendOver(source, destination);
        const uint32_t keep = 255 - (source >> 24);
        for (int shift = 0; shift < 32; shift += 8) {
            const uint32_t s = (source >> shift) & 0xFF;
            const uint32_t d = (destination >> shift) & 0xFF;
            // s + d * keep / 255, rounded to nearest (255 is odd: no halves).
            const uint32_t expected = s + (2 * d * keep + 255) / 510;
            ASSERT_EQ((blended >> shift) & 0xFF, expected)
                << std::hex << source << " over " << destination;
        }
    }
}

// The gradient composites work on several pixels at once where they can; every pixel must come
// out as the one-pixel rule makes it, whatever the coverage, row length and what lies beneath.
TEST(PixelPaths, GradientCompositeBlendsEveryPixelByTheOnePixelRule) {
    std::mt19937 random(11);
    std::uniform_int_distribution<uint32_t> any;
    std::uniform_int_distribution<int> width_of(1, 40);
    std::uniform_int_distribution<int> cover_kind(0, 3);
    gdiplus_cairo::GradientRamp ramp;
    for (int round = 0; round < 2000; ++round) {
        ramp.Build(any(random), any(random));
        const int width = width_of(random);
        const int height = 3;
        const int stride = width + 5;
        std::vector<uint8_t> coverage(static_cast<std::size_t>(stride) * height);
        for (uint8_t& cover : coverage) {
            const int kind = cover_kind(random);
            cover = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<uint8_t>(any(random));
        }
        // Any 32-bit value beneath, premultiplied or not.
        std::vector<uint32_t> pixels(static_cast<std::size_t>(width + 2) * height);
        for (uint32_t& pixel : pixels) {
            pixel = round % 2 == 0 ? RandomPixel(random) : any(random);
        }
        std::vector<uint32_t> expected = pixels;
        const uint64_t row_step = uint64_t(any(random)) << 1;
        const uint64_t step = uint64_t(any(random)) >> (round % 20);
        const auto row_position = [&](int64_t row) { return uint64_t(row) * row_step; };
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint32_t cover = coverage[y * stride + x];
                uint32_t& pixel = expected[y * (width + 2) + 1 + x];
                if (cover != 0) {
                    const uint32_t colour = gdiplus_cairo::ScaleChannels(
                        ramp.At(row_position(y) + uint64_t(x) * step), cover);
                    pixel = gdiplus_cairo::BlendOver(colour, pixel);
                }
            }
        }
        // A run at full coverage, as aliased fills are blended.
        std::vector<uint32_t> run(pixels.begin(), pixels.begin() + width);
        std::vector<uint32_t> expected_run = run;
        for (int x = 0; x < width; ++x) {
            expected_run[x] =
                gdiplus_cairo::BlendOver(ramp.At(row_step + uint64_t(x) * step), expected_run[x]);
        }
        gdiplus_cairo::CompositeRampRun(run.data(), width, ramp, row_step, step);
        ASSERT_EQ(run, expected_run) << "round " << round << " width " << width;

        const gdiplus_cairo::PixelImage image{pixels.data(), width + 2, width + 2, height};
        gdiplus_cairo::CompositeRamp(image, {coverage.data(), stride, 1, 0, width, height}, ramp,
                                     row_position, step);
        ASSERT_EQ(pixels, expected) << "round " << round << " width " << width;
    }
}

// A row of runs blends as its runs do one by one, opaque ramps (copied from one row of colours)
// and translucent ones alike, and leaves the pixels between and around the runs alone.
TEST(PixelPaths, RampRowsBlendAsTheirRunsDo) {
    std::mt19937 random(17);
    std::uniform_int_distribution<uint32_t> any;
    std::uniform_int_distribution<int> length(1, 30);
    gdiplus_cairo::GradientRamp ramp;
    for (int round = 0; round < 1000; ++round) {
        ramp.Build(any(random) | (round % 3 != 0 ? 0xFF000000u : 0u),
                   any(random) | (round % 3 != 1 ? 0xFF000000u : 0u));
        // Runs and gaps of random lengths, the gaps in every other round narrow.
        std::vector<int64_t> bounds;
        int64_t column = length(random) % 4;
        for (int k = 1 + round % 9; k > 0; --k) {
            bounds.push_back(column);
            column += length(random);
            bounds.push_back(column);
            column += round % 2 == 0 ? 1 + length(random) % 3 : 3 * length(random);
        }
        std::vector<uint32_t> pixels(static_cast<std::size_t>(column) + 3);
        for (uint32_t& pixel : pixels) {
            pixel = RandomPixel(random);
        }
        std::vector<uint32_t> expected = pixels;
        const uint64_t position = uint64_t(any(random)) << 1;
        const uint64_t step = uint64_t(any(random)) >> (round % 20);
        for (std::size_t k = 0; k < bounds.size(); k += 2) {
            gdiplus_cairo::CompositeRampRun(expected.data() + bounds[k], bounds[k + 1] - bounds[k],
                                            ramp, position + uint64_t(bounds[k]) * step, step);
        }
        std::vector<uint32_t> colours(pixels.size() + 7);
        gdiplus_cairo::CompositeRampRow(pixels.data(), bounds.data(),
                                        static_cast<int64_t>(bounds.size() / 2), ramp, position,
                                        step, colours.data());
        ASSERT_EQ(pixels, expected) << "round " << round;
    }
}

// Over a clear background an opaque aliased fill marks exactly the pixels it covers, whatever its
// colours round to.
TEST(PixelPaths, AliasedPolygonsCoverTheGeneralPathsPixels) {
    std::mt19937 random(13);
    std::uniform_int_distribution<int> count(3, 40);
    std::uniform_int_distribution<int> row(-3, kHeight + 3);
    for (int round = 0; round < 600; ++round) {
        // Some wider than 64 columns, one of them just 128.
        const int width = round < 8 || (round % 3 == 0 && round % 5 < 3) ? 128 + round % 5 : kWidth;
        const std::vector<uint32_t> clear(static_cast<std::size_t>(width) * kHeight, 0);
        const auto covered = [width](const std::vector<uint32_t>& pixels) {
            std::string marks;
            for (std::size_t i = 0; i < pixels.size(); ++i) {
                marks += (i % static_cast<std::size_t>(width) == 0 ? "\n" : "") +
                         std::string((pixels[i] >> 24) ? "#" : ".");
            }
            return marks;
        };
        std::vector<Point> points;
        if (round < 8) {
            // A notch one to two pixels wide about column 64: runs that end right before the
            // next one starts.
            const int at = 61 + round;
            points = {Point(0, 0),          Point(at, 0),    Point(at + 1, kHeight),
                      Point(at + 2, 0),     Point(width, 0), Point(width, kHeight + 1),
                      Point(0, kHeight + 1)};
        } else if (round % 3 == 0) {
            // The view's outline: along one trace and back along another, at times the same one.
            const int columns = std::uniform_int_distribution<int>(1, width + 2)(random);
            std::vector<int> upper;
            std::vector<int> lower;
            for (int i = 0; i <= columns; ++i) {
                upper.push_back(row(random));
                lower.push_back(round % 2 == 0 ? upper.back() : row(random));
            }
            for (int i = 0; i <= columns; ++i) {
                points.emplace_back(i, upper[i]);
            }
            for (int i = columns - 1; i >= 0; --i) {
                points.emplace_back(i, lower[i]);
            }
        } else {
            std::uniform_int_distribution<int> x(-15, width + 15);
            std::uniform_int_distribution<int> y(-15, kHeight + 15);
            for (int i = count(random); i > 0; --i) {
                points.emplace_back(x(random), y(random));
            }
        }
        const FillMode mode = round % 4 < 2 ? FillModeAlternate : FillModeWinding;
        const PixelOffsetMode offset =
            round % 8 < 4 ? PixelOffsetModeDefault : PixelOffsetModeHighQuality;
        const Draw draw = [&](Graphics& g) {
            g.SetPixelOffsetMode(offset);
            LinearGradientBrush brush(Point(0, 0), Point(width, 7), Color(0xFF2040C0),
                                      Color(0xFFE0A010));
            brush.SetWrapMode(WrapModeTileFlipX);
            g.FillPolygon(&brush, points.data(), static_cast<INT>(points.size()), mode);
        };
        ASSERT_EQ(covered(Drawn(clear, width, kHeight, false, draw)),
                  covered(Drawn(clear, width, kHeight, true, draw)))
            << "round " << round;
    }
}
