#include "AllocationCounter.h"
#include "LentSurface.h"
#include "gdiplus.h"
#include "gdiplus_recording.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Gdiplus;
using gdiplus_recording::Call;

namespace {

std::vector<double> Numbers(const Call& call) {
    return std::vector<double>(call.numbers, call.numbers + call.number_count);
}

// The calls of a small paint through the wrapper classes, objects released in reverse order.
void PaintThroughWrappers(HDC dc, const Point* points, INT count) {
    Graphics graphics(dc);
    graphics.SetSmoothingMode(SmoothingModeAntiAlias);
    graphics.SetPixelOffsetMode(PixelOffsetModeHighQuality);
    graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic);
    {
        SolidBrush background(Color(0xFF102030));
        graphics.FillRectangle(&background, 1, 2, 30, 40);
    }
    Pen pen(Color(0x80FF0000), 1.0f);
    graphics.DrawLine(&pen, 0, 5, 29, 5);
    LinearGradientBrush gradient(Point(0, 0), Point(30, 40), Color(0xFF00FF00), Color(0x400000FF));
    gradient.SetWrapMode(WrapModeTileFlipX);
    graphics.FillPolygon(&gradient, points, count, FillModeAlternate);
    graphics.DrawLines(&pen, points, count);
}

} // namespace

TEST(Recording, WrappersMakeTheFlatCallsInOrderWithTheirObjectsAndNumbers) {
    LentSurface lent(32, 48);
    const Point points[4] = {{1, 1}, {20, 3}, {5, 30}, {-4, 9}};
    gdiplus_recording::Start();
    PaintThroughWrappers(lent.Dc(), points, 4);
    gdiplus_recording::Stop();
    ASSERT_FALSE(gdiplus_recording::Overflowed());

    const std::vector<std::string> expected = {
        "GdipCreateFromHDC",        "GdipSetSmoothingMode", "GdipSetPixelOffsetMode",
        "GdipSetInterpolationMode", "GdipCreateSolidFill",  "GdipFillRectangleI",
        "GdipDeleteBrush",          "GdipCreatePen1",       "GdipDrawLineI",
        "GdipCreateLineBrushI",     "GdipSetLineWrapMode",  "GdipFillPolygonI",
        "GdipDrawLinesI",           "GdipDeleteBrush",      "GdipDeletePen",
        "GdipDeleteGraphics"};
    ASSERT_EQ(gdiplus_recording::Names(), expected);
    const std::vector<Call> calls = gdiplus_recording::Calls();
    for (const Call& call : calls) {
        EXPECT_EQ(call.status, Ok) << call.name;
    }

    const void* graphics = calls[0].created;
    const void* background = calls[4].created;
    const void* pen = calls[7].created;
    const void* gradient = calls[9].created;
    ASSERT_NE(graphics, nullptr);
    EXPECT_EQ(Numbers(calls[0]),
              std::vector<double>{double(reinterpret_cast<intptr_t>(lent.Dc()))});
    EXPECT_EQ(Numbers(calls[1]), std::vector<double>{4});
    EXPECT_EQ(Numbers(calls[2]), std::vector<double>{2});
    EXPECT_EQ(Numbers(calls[3]), std::vector<double>{7});
    EXPECT_EQ(Numbers(calls[4]), std::vector<double>{double(0xFF102030u)});
    EXPECT_EQ(Numbers(calls[5]), (std::vector<double>{1, 2, 30, 40}));
    EXPECT_EQ(Numbers(calls[7]), (std::vector<double>{double(0x80FF0000u), 1.0, 0}));
    EXPECT_EQ(Numbers(calls[8]), (std::vector<double>{0, 5, 29, 5}));
    EXPECT_EQ(Numbers(calls[9]),
              (std::vector<double>{0, 0, 30, 40, double(0xFF00FF00u), double(0x400000FFu), 0}));
    EXPECT_EQ(Numbers(calls[10]), std::vector<double>{1});
    EXPECT_EQ(Numbers(calls[11]), (std::vector<double>{4, 0}));
    EXPECT_EQ(Numbers(calls[12]), std::vector<double>{4});

    for (int i : {1, 2, 3, 5, 8, 11, 12}) {
        EXPECT_EQ(calls[i].target, graphics) << calls[i].name;
    }
    EXPECT_EQ(calls[5].tool, background);
    EXPECT_EQ(calls[6].target, background);
    EXPECT_EQ(calls[8].tool, pen);
    EXPECT_EQ(calls[10].target, gradient);
    EXPECT_EQ(calls[11].tool, gradient);
    EXPECT_EQ(calls[12].tool, pen);
    EXPECT_EQ(calls[13].target, gradient);
    EXPECT_EQ(calls[14].target, pen);
    EXPECT_EQ(calls[15].target, graphics);

    for (int i : {11, 12}) {
        const std::vector<Point> recorded = gdiplus_recording::PointsOf(calls[i]);
        ASSERT_EQ(recorded.size(), 4u);
        for (int k = 0; k < 4; ++k) {
            EXPECT_TRUE(recorded[k].Equals(points[k])) << calls[i].name << " point " << k;
        }
    }
}

TEST(Recording, ShortListsAndFailedSurfacesAreRecordedAsMade) {
    const Point two[2] = {{1, 1}, {2, 2}};
    gdiplus_recording::Start();
    {
        Graphics graphics(reinterpret_cast<HDC>(static_cast<intptr_t>(777777)));
        SolidBrush brush(Color(0xFF000000));
        Pen pen(Color(0xFF000000));
        graphics.FillPolygon(&brush, two, 2, FillModeAlternate);
        graphics.DrawLines(&pen, two, 2);
    }
    gdiplus_recording::Stop();
    const std::vector<Call> calls = gdiplus_recording::Calls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_NE(calls[0].status, Ok);
    EXPECT_EQ(calls[0].created, nullptr);
    // A polygon of two points is refused, its points not taken; the polyline's are, though the
    // surface failed.
    EXPECT_STREQ(calls[3].name, "GdipFillPolygonI");
    EXPECT_EQ(calls[3].status, InvalidParameter);
    EXPECT_EQ(calls[3].point_count, 0u);
    EXPECT_EQ(Numbers(calls[3]), (std::vector<double>{2, 0}));
    EXPECT_STREQ(calls[4].name, "GdipDrawLinesI");
    EXPECT_EQ(calls[4].status, InvalidParameter);
    EXPECT_EQ(gdiplus_recording::PointsOf(calls[4]).size(), 2u);
    EXPECT_STREQ(calls[7].name, "GdipDeleteGraphics");
    EXPECT_EQ(calls[7].status, InvalidParameter);
}

TEST(Recording, StopsStartsAfreshAndDropsWhatDoesNotFit) {
    LentSurface lent(8, 8);
    const Point five[5] = {{0, 0}, {7, 0}, {7, 7}, {0, 7}, {3, 3}};
    gdiplus_recording::Start(3, 4);
    {
        Graphics graphics(lent.Dc());
        SolidBrush brush(Color(0xFF000000));
        graphics.FillPolygon(&brush, five, 5, FillModeAlternate); // 5 points do not fit in 4
    }
    gdiplus_recording::Stop();
    EXPECT_TRUE(gdiplus_recording::Overflowed());
    EXPECT_EQ(
        gdiplus_recording::Names(),
        (std::vector<std::string>{"GdipCreateFromHDC", "GdipCreateSolidFill", "GdipDeleteBrush"}));
    { Graphics unrecorded(lent.Dc()); }
    EXPECT_EQ(gdiplus_recording::Calls().size(), 3u);
    gdiplus_recording::Start();
    EXPECT_TRUE(gdiplus_recording::Calls().empty());
    EXPECT_FALSE(gdiplus_recording::Overflowed());
    gdiplus_recording::Stop();
}

TEST(Recording, APaintAllocatesOnceForEachObjectItCreates) {
    LentSurface lent(32, 48);
    const Point points[4] = {{1, 1}, {20, 3}, {5, 30}, {-4, 9}};
    for (bool recording : {false, true}) {
        if (recording) {
            gdiplus_recording::Start();
        }
        allocation_counter::Start();
        PaintThroughWrappers(lent.Dc(), points, 4);
        const std::size_t allocations = allocation_counter::Stop();
        gdiplus_recording::Stop();
        // The graphics, the background brush, the pen and the gradient.
        EXPECT_EQ(allocations, 4u) << (recording ? "recording" : "not recording");
    }
}
