#include "LentSurface.h"
#include "gdiplus.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>

using namespace Gdiplus;

namespace {

using Draw = std::function<void(Graphics&)>;

// The pixels that differ from the white background, one '#' each, for a readable failure.
std::string Marked(LentSurface& lent) {
    std::string picture;
    for (int y = 0; y < lent.Height(); ++y) {
        for (int x = 0; x < lent.Width(); ++x) {
            picture += lent.At(x, y) == 0xFFFFFFFF ? '.' : '#';
        }
        picture += '\n';
    }
    return picture;
}

std::string Picture(int width, int height, const Draw& draw) {
    LentSurface lent(width, height);
    {
        Graphics graphics(lent.Dc());
        draw(graphics);
    }
    return Marked(lent);
}

// Every pixel of two drawings, for comparisons that must hold exactly.
std::vector<uint32_t> Pixels(int width, int height, const Draw& draw) {
    LentSurface lent(width, height);
    {
        Graphics graphics(lent.Dc());
        draw(graphics);
    }
    std::vector<uint32_t> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(lent.At(x, y));
        }
    }
    return pixels;
}

bool Near(int value, int expected, int tolerance = 3) {
    return std::abs(value - expected) <= tolerance;
}

const Color kBlack(0xFF000000);

} // namespace

TEST(Pictures, RectanglesCoverExactlyTheirPixelsByDefault) {
    const std::string picture = Picture(6, 6, [](Graphics& g) {
        SolidBrush brush(kBlack);
        g.FillRectangle(&brush, 1, 2, 3, 2);
        g.FillRectangle(&brush, 5, 5, 0, 4);   // empty
        g.FillRectangle(&brush, 5, 5, -3, -3); // negative: nothing
    });
    EXPECT_EQ(picture, "......\n"
                       "......\n"
                       ".###..\n"
                       ".###..\n"
                       "......\n"
                       "......\n");
}

TEST(Pictures, AliasedThinLinesCoverBothEndsWithOnePixelPerStep) {
    const std::string picture = Picture(10, 7, [](Graphics& g) {
        Pen pen(kBlack);
        g.DrawLine(&pen, 1, 1, 8, 1);
        g.DrawLine(&pen, 9, 6, 2, 3); // backwards, shallow: one pixel per column
        g.DrawLine(&pen, 0, 3, 0, 3); // a point still marks its pixel
    });
    EXPECT_EQ(picture, "..........\n"
                       ".########.\n"
                       "..........\n"
                       "#.##......\n"
                       "....##....\n"
                       "......##..\n"
                       "........##\n");
}

TEST(Pictures, PolylinesJoinAndBlendEachPixelOnce) {
    LentSurface lent(8, 8);
    {
        Graphics g(lent.Dc());
        Pen pen(Color(0x80000000));
        const Point points[4] = {{1, 1}, {6, 1}, {6, 6}, {1, 1}};
        g.DrawLines(&pen, points, 4);
    }
    // The corners where segments meet are as light as the rest of the line.
    EXPECT_EQ(lent.At(6, 1), lent.At(3, 1));
    EXPECT_EQ(lent.At(1, 1), lent.At(3, 1));
    EXPECT_EQ(lent.At(6, 6), lent.At(6, 3));
    EXPECT_TRUE(Near(LentSurface::Red(lent.At(3, 1)), 127));
    EXPECT_EQ(lent.At(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(lent.At(3, 4), 0xFFFFFFFFu); // below the diagonal
}

TEST(Pictures, SmoothingAndPixelOffsetDecideTheEdgesOfALine) {
    // Aliased: pixel centres lie on integer coordinates, so row 3 is solid and rows 2 and 4 clean.
    // Anti-aliased without the shift the same. With the half-pixel shift the line lies on the
    // border of rows 2 and 3 and covers half of each.
    struct Case {
        SmoothingMode smoothing;
        PixelOffsetMode offset;
        int row2, row3, row4;
    };
    for (const Case& c : {Case{SmoothingModeDefault, PixelOffsetModeDefault, 255, 0, 255},
                          Case{SmoothingModeDefault, PixelOffsetModeHighQuality, 255, 0, 255},
                          Case{SmoothingModeAntiAlias, PixelOffsetModeDefault, 255, 0, 255},
                          Case{SmoothingModeAntiAlias, PixelOffsetModeHighQuality, 127, 127, 255},
                          Case{SmoothingModeAntiAlias, PixelOffsetModeHalf, 127, 127, 255}}) {
        LentSurface lent(12, 6);
        {
            Graphics g(lent.Dc());
            g.SetSmoothingMode(c.smoothing);
            g.SetPixelOffsetMode(c.offset);
            Pen pen(kBlack);
            g.DrawLine(&pen, 2, 3, 9, 3);
        }
        const std::string label =
            "smoothing " + std::to_string(c.smoothing) + ", offset " + std::to_string(c.offset);
        EXPECT_TRUE(Near(LentSurface::Red(lent.At(5, 2)), c.row2)) << label;
        EXPECT_TRUE(Near(LentSurface::Red(lent.At(5, 3)), c.row3)) << label;
        EXPECT_TRUE(Near(LentSurface::Red(lent.At(5, 4)), c.row4)) << label;
    }
}

TEST(Pictures, OnlyTheSmoothedDiagonalHasPartlyCoveredPixels) {
    for (SmoothingMode mode : {SmoothingModeDefault, SmoothingModeAntiAlias}) {
        LentSurface lent(20, 20);
        {
            Graphics g(lent.Dc());
            g.SetSmoothingMode(mode);
            Pen pen(kBlack);
            g.DrawLine(&pen, 1, 2, 18, 9);
        }
        int partial = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 20; ++x) {
                const int red = LentSurface::Red(lent.At(x, y));
                partial += red > 10 && red < 245;
            }
        }
        if (mode == SmoothingModeAntiAlias) {
            EXPECT_GT(partial, 10);
        } else {
            EXPECT_EQ(partial, 0);
        }
    }
}

TEST(Pictures, AlternateFillLeavesTheCentreOfAStarEmpty) {
    const Point star[5] = {{10, 0}, {16, 19}, {0, 7}, {20, 7}, {4, 19}};
    for (FillMode mode : {FillModeAlternate, FillModeWinding}) {
        for (SmoothingMode smoothing : {SmoothingModeDefault, SmoothingModeAntiAlias}) {
            LentSurface lent(21, 21);
            {
                Graphics g(lent.Dc());
                g.SetSmoothingMode(smoothing);
                SolidBrush brush(kBlack);
                g.FillPolygon(&brush, star, 5, mode);
            }
            EXPECT_EQ(lent.At(10, 11) == 0xFFFFFFFF, mode == FillModeAlternate) << mode;
            EXPECT_EQ(lent.At(10, 3), 0xFF000000u); // a point of the star
            EXPECT_EQ(lent.At(1, 1), 0xFFFFFFFFu);
        }
    }
}

TEST(Pictures, GradientRunsFromStartToEndAndMirrorsBeyondIt) {
    // Pixel x of row 0 sits at t = x / 10 along a ramp from red to blue.
    for (WrapMode wrap : {WrapModeTileFlipX, WrapModeTile}) {
        LentSurface lent(32, 2);
        {
            Graphics g(lent.Dc());
            LinearGradientBrush brush(Point(0, 0), Point(10, 0), Color(0xFFFF0000),
                                      Color(0xFF0000FF));
            brush.SetWrapMode(wrap);
            g.FillRectangle(&brush, 0, 0, 32, 2);
        }
        const uint32_t start = lent.At(0, 0);
        EXPECT_TRUE(Near(LentSurface::Red(start), 255) && Near(LentSurface::Blue(start), 0));
        const uint32_t middle = lent.At(5, 0);
        EXPECT_TRUE(Near(LentSurface::Red(middle), 127) && Near(LentSurface::Blue(middle), 127));
        // Colour is constant across the ramp.
        EXPECT_EQ(lent.At(5, 1), middle);
        if (wrap == WrapModeTileFlipX) {
            const uint32_t end = lent.At(10, 0);
            EXPECT_TRUE(Near(LentSurface::Red(end), 0) && Near(LentSurface::Blue(end), 255));
            for (int d = 1; d < 10; ++d) {
                EXPECT_TRUE(Near(LentSurface::Blue(lent.At(10 + d, 0)),
                                 LentSurface::Blue(lent.At(10 - d, 0))))
                    << "mirrored band at " << 10 + d;
            }
            EXPECT_TRUE(Near(LentSurface::Red(lent.At(20, 0)), 255));
        } else {
            for (int d = 1; d < 10; ++d) {
                EXPECT_TRUE(
                    Near(LentSurface::Blue(lent.At(10 + d, 0)), LentSurface::Blue(lent.At(d, 0))))
                    << "repeated band at " << 10 + d;
            }
        }
    }
}

TEST(Pictures, DiagonalGradientBandsRunAcrossTheRamp) {
    LentSurface lent(40, 40);
    {
        Graphics g(lent.Dc());
        LinearGradientBrush brush(Point(0, 0), Point(30, 30), Color(0xFF000000), Color(0xFFFFFFFF));
        brush.SetWrapMode(WrapModeTileFlipX);
        g.FillRectangle(&brush, 0, 0, 40, 40);
    }
    // Points with the same x + y share a band.
    EXPECT_EQ(lent.At(10, 20), lent.At(20, 10));
    EXPECT_EQ(lent.At(0, 30), lent.At(30, 0));
    EXPECT_LT(LentSurface::Red(lent.At(5, 5)), LentSurface::Red(lent.At(15, 15)));
    EXPECT_TRUE(Near(LentSurface::Red(lent.At(30, 30)), 255));
    EXPECT_TRUE(Near(LentSurface::Red(lent.At(39, 39)), LentSurface::Red(lent.At(21, 21))));
}

TEST(Pictures, TranslucentColoursBlendOverWhatLiesBeneath) {
    LentSurface lent(4, 4, 0xFF0000FF);
    {
        Graphics g(lent.Dc());
        SolidBrush half_red(Color(0x80FF0000));
        g.FillRectangle(&half_red, 0, 0, 2, 4);
        SolidBrush clear(Color(0x00FF0000));
        g.FillRectangle(&clear, 2, 0, 2, 4);
    }
    const uint32_t blended = lent.At(0, 0);
    EXPECT_EQ(LentSurface::Alpha(blended), 255);
    EXPECT_TRUE(Near(LentSurface::Red(blended), 128));
    EXPECT_TRUE(Near(LentSurface::Blue(blended), 127));
    EXPECT_EQ(lent.At(3, 3), 0xFF0000FFu);
}

TEST(Pictures, HugeCoordinatesDrawWhatTheSameShapesDrawNearby) {
    // Each pair describes the same lines: once with points far outside and once with points just
    // past the surface; inside the surface the pictures must match pixel for pixel.
    for (SmoothingMode smoothing : {SmoothingModeDefault, SmoothingModeAntiAlias}) {
        const auto with = [smoothing](const std::function<void(Graphics&, SolidBrush&, Pen&)>& f) {
            return Pixels(64, 64, [&](Graphics& g) {
                g.SetSmoothingMode(smoothing);
                g.SetPixelOffsetMode(PixelOffsetModeHighQuality);
                SolidBrush brush(Color(0xC0000000));
                Pen pen(Color(0xFF0000FF));
                f(g, brush, pen);
            });
        };
        const std::vector<uint32_t> near = with([](Graphics& g, SolidBrush& b, Pen& p) {
            const Point wedge[3] = {{0, 1}, {512, 1}, {512, 65}};
            g.FillPolygon(&b, wedge, 3, FillModeAlternate);
            g.DrawLine(&p, 0, 10, 512, 74);
            g.DrawLine(&p, 3, 0, 3, 200);
        });
        const std::vector<uint32_t> far = with([](Graphics& g, SolidBrush& b, Pen& p) {
            const Point wedge[3] = {{0, 1}, {1 << 30, 1}, {1 << 30, (1 << 27) + 1}};
            g.FillPolygon(&b, wedge, 3, FillModeAlternate);
            g.DrawLine(&p, 0, 10, 1 << 30, (1 << 27) + 10);
            g.DrawLine(&p, 3, 0, 3, INT_MAX);
        });
        EXPECT_TRUE(near == far) << "smoothing " << smoothing;
    }
}

TEST(Pictures, ExtremeCoordinatesNeitherCrashNorLeakOutside) {
    const std::string picture = Picture(8, 8, [](Graphics& g) {
        SolidBrush brush(kBlack);
        Pen pen(kBlack);
        g.FillRectangle(&brush, INT_MIN, INT_MIN, INT_MAX, INT_MAX); // ends at (-1, -1)
        g.FillRectangle(&brush, 1, 6, INT_MAX, INT_MAX);             // its far side is past INT_MAX
        g.DrawLine(&pen, INT_MIN, 2, INT_MAX, 2);
        const Point spikes[4] = {
            {INT_MIN, INT_MAX}, {INT_MAX, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MIN}};
        g.DrawLines(&pen, spikes, 4);
        g.SetSmoothingMode(SmoothingModeAntiAlias);
        g.FillPolygon(&brush, spikes, 4, FillModeWinding);
        g.DrawLines(&pen, spikes, 4);
    });
    // Row 2 is the long line, rows 6 and 7 from x = 1 the rectangle; the bowtie fills x > y, its
    // outline runs along x == y and the smoothed outline greys the pixels just below that diagonal.
    std::string expected;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            expected += y == 2 || (y >= 6 && x >= 1) || x >= y - 1 ? '#' : '.';
        }
        expected += '\n';
    }
    EXPECT_EQ(picture, expected);
}

TEST(Pictures, GradientsSpanningTheWholeRangeKeepTheirColours) {
    LentSurface lent(4, 2);
    {
        Graphics g(lent.Dc());
        LinearGradientBrush across(Point(INT_MIN, 0), Point(INT_MAX, 0), kBlack, Color(0xFFFFFFFF));
        g.FillRectangle(&across, 0, 0, 4, 1);
        LinearGradientBrush away(Point(0, 1), Point(INT_MAX, INT_MAX), Color(0xFFFF0000),
                                 Color(0xFF0000FF));
        away.SetWrapMode(WrapModeTileFlipX);
        g.FillRectangle(&away, 0, 1, 4, 1);
    }
    EXPECT_TRUE(Near(LentSurface::Red(lent.At(2, 0)), 128));
    EXPECT_TRUE(Near(LentSurface::Red(lent.At(0, 1)), 255));
    EXPECT_TRUE(Near(LentSurface::Blue(lent.At(0, 1)), 0));
}
