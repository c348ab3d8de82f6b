#include "geometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

using namespace gdiplus_cairo;

namespace {

struct Pixels final : RunSink {
    void Run(int64_t x, int64_t y, int64_t width, int64_t height) override {
        ++runs;
        for (int64_t j = 0; j < height; ++j) {
            for (int64_t i = 0; i < width; ++i) {
                EXPECT_TRUE(set.insert({x + i, y + j}).second) << "pixel given twice";
            }
        }
    }
    std::set<std::pair<int64_t, int64_t>> set;
    int runs = 0;
};

} // namespace

TEST(ThinLines, OnePixelPerStepBothEndsAndTheSamePixelsEitherWay) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> coordinate(-40, 40);
    for (int i = 0; i < 500; ++i) {
        const int64_t x1 = coordinate(random), y1 = coordinate(random);
        const int64_t x2 = coordinate(random), y2 = coordinate(random);
        Pixels forward;
        Pixels backward;
        ThinLineRuns(x1, y1, x2, y2, -100, -100, 100, 100, forward);
        ThinLineRuns(x2, y2, x1, y1, -100, -100, 100, 100, backward);
        EXPECT_EQ(forward.set, backward.set);
        const int64_t steps = std::max(std::llabs(x2 - x1), std::llabs(y2 - y1));
        EXPECT_EQ(static_cast<int64_t>(forward.set.size()), steps + 1);
        EXPECT_TRUE(forward.set.count({x1, y1}) && forward.set.count({x2, y2}));
        // Every pixel lies within half a step of the true line.
        for (const auto& [x, y] : forward.set) {
            if (steps > 0) {
                const double distance =
                    std::abs(double(x2 - x1) * double(y - y1) - double(x - x1) * double(y2 - y1)) /
                    double(std::max(std::llabs(x2 - x1), std::llabs(y2 - y1)));
                EXPECT_LE(distance, 0.5 + 1e-9);
            }
        }
    }
}

TEST(ThinLines, WorkStaysWithinTheBoxWhateverTheCoordinates) {
    Pixels pixels;
    ThinLineRuns(INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, 9, 9, pixels);
    EXPECT_EQ(pixels.set.size(), 10u);
    EXPECT_TRUE(pixels.set.count({0, 0}) && pixels.set.count({9, 9}));

    Pixels steep;
    ThinLineRuns(3, INT_MIN, 4, INT_MAX, 0, 0, 9, 9, steep);
    EXPECT_EQ(steep.runs, 1);
    EXPECT_EQ(steep.set.size(), 10u);
    EXPECT_TRUE(steep.set.count({3, 0}) || steep.set.count({4, 0}));

    Pixels outside;
    ThinLineRuns(-50, 20, 50, 20, 0, 0, 9, 9, outside);
    EXPECT_TRUE(outside.set.empty());
}

namespace {

// The rule written out pixel by pixel: along the longer axis from the end with the smaller major
// coordinate, the minor coordinate rounded to nearest, halves up.
std::set<std::pair<int64_t, int64_t>> RoundedLine(int64_t x1, int64_t y1, int64_t x2, int64_t y2,
                                                  int64_t px1, int64_t py1, int64_t px2,
                                                  int64_t py2) {
    const bool x_major = std::llabs(x2 - x1) >= std::llabs(y2 - y1);
    if (!x_major) {
        std::swap(x1, y1);
        std::swap(x2, y2);
        std::swap(px1, py1);
        std::swap(px2, py2);
    }
    if (x1 > x2) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    std::set<std::pair<int64_t, int64_t>> pixels;
    for (int64_t x = std::max(x1, px1); x <= std::min(x2, px2); ++x) {
        int64_t y = y1;
        if (x2 != x1) {
            const __int128 twice = __int128(2) * (x - x1) * (y2 - y1) + (x2 - x1);
            const __int128 divisor = __int128(2) * (x2 - x1);
            __int128 quotient = twice / divisor;
            if (twice % divisor != 0 && twice < 0) {
                --quotient;
            }
            y += static_cast<int64_t>(quotient);
        }
        if (y >= py1 && y <= py2) {
            pixels.insert(x_major ? std::make_pair(x, y) : std::make_pair(y, x));
        }
    }
    return pixels;
}

} // namespace

TEST(ThinLines, LinesFromFarAwayCrossTheBoxOnTheirRoundedPixels) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int64_t> far(INT_MIN, INT_MAX);
    std::uniform_int_distribution<int64_t> near(-300, 300);
    std::uniform_int_distribution<int> pick(0, 2);
    for (int i = 0; i < 2000; ++i) {
        const auto coordinate = [&] { return pick(random) == 0 ? far(random) : near(random); };
        const int64_t x1 = coordinate(), y1 = coordinate(), x2 = coordinate(), y2 = coordinate();
        const int64_t px1 = near(random) / 4, py1 = near(random) / 4;
        const int64_t px2 = px1 + 60, py2 = py1 + 40;
        Pixels pixels;
        ThinLineRuns(x1, y1, x2, y2, px1, py1, px2, py2, pixels);
        EXPECT_EQ(pixels.set, RoundedLine(x1, y1, x2, y2, px1, py1, px2, py2))
            << x1 << "," << y1 << " " << x2 << "," << y2;
    }
}

TEST(Clipping, SegmentsKeepTheirLineAndSayWhichEndMoved) {
    const Box box{0, 0, 10, 10};
    double x1 = -10, y1 = 5, x2 = 5, y2 = 5;
    bool start_moved = false, end_moved = true;
    ASSERT_TRUE(ClipSegment(box, x1, y1, x2, y2, start_moved, end_moved));
    EXPECT_TRUE(start_moved);
    EXPECT_FALSE(end_moved);
    EXPECT_EQ(x1, 0.0);
    EXPECT_EQ(y1, 5.0);
    EXPECT_EQ(x2, 5.0);

    x1 = -1e9, y1 = -1e9, x2 = 2e9, y2 = 2e9;
    ASSERT_TRUE(ClipSegment(box, x1, y1, x2, y2, start_moved, end_moved));
    EXPECT_TRUE(start_moved && end_moved);
    EXPECT_NEAR(x1, 0.0, 1e-6);
    EXPECT_NEAR(y1, 0.0, 1e-6);
    EXPECT_NEAR(x2, 10.0, 1e-6);
    EXPECT_NEAR(y2, 10.0, 1e-6);

    x1 = -5, y1 = 20, x2 = 30, y2 = 11;
    EXPECT_FALSE(ClipSegment(box, x1, y1, x2, y2, start_moved, end_moved));

    const Box safe = SafeBox(Box{-1e12, 0, 1e12, 100}, 2);
    EXPECT_EQ(safe.x1, -kCoordinateLimit);
    EXPECT_EQ(safe.x2, kCoordinateLimit);
    EXPECT_EQ(safe.y1, -2.0);
    EXPECT_EQ(safe.y2, 102.0);
}
