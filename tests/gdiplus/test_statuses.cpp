#include "LentSurface.h"
#include "gdiplus.h"

#include <gtest/gtest.h>

#include <climits>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

class Statuses : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GdipCreateFromHDC(lent.Dc(), &graphics), Ok);
        ASSERT_EQ(GdipCreateSolidFill(0xFF000000, &brush), Ok);
        ASSERT_EQ(GdipCreatePen1(0xFF000000, 1.0f, UnitWorld, &pen), Ok);
    }
    void TearDown() override {
        GdipDeletePen(pen);
        GdipDeleteBrush(brush);
        GdipDeleteGraphics(graphics);
    }
    // True while nothing has been drawn on the white surface.
    bool Untouched() {
        for (int y = 0; y < lent.Height(); ++y) {
            for (int x = 0; x < lent.Width(); ++x) {
                if (lent.At(x, y) != 0xFFFFFFFF) {
                    return false;
                }
            }
        }
        return true;
    }

    LentSurface lent{16, 16};
    GpGraphics* graphics = nullptr;
    GpSolidFill* brush = nullptr;
    GpPen* pen = nullptr;
};

} // namespace

TEST_F(Statuses, NullObjectsAreInvalidParametersAndDrawNothing) {
    const Point points[3] = {{0, 0}, {10, 0}, {0, 10}};
    EXPECT_EQ(GdipFillRectangleI(nullptr, brush, 0, 0, 8, 8), InvalidParameter);
    EXPECT_EQ(GdipFillRectangleI(graphics, nullptr, 0, 0, 8, 8), InvalidParameter);
    EXPECT_EQ(GdipFillPolygonI(graphics, nullptr, points, 3, FillModeAlternate), InvalidParameter);
    EXPECT_EQ(GdipFillPolygonI(nullptr, brush, points, 3, FillModeAlternate), InvalidParameter);
    EXPECT_EQ(GdipFillPolygonI(graphics, brush, nullptr, 3, FillModeAlternate), InvalidParameter);
    EXPECT_EQ(GdipDrawLineI(nullptr, pen, 0, 0, 8, 8), InvalidParameter);
    EXPECT_EQ(GdipDrawLineI(graphics, nullptr, 0, 0, 8, 8), InvalidParameter);
    EXPECT_EQ(GdipDrawLinesI(graphics, nullptr, points, 3), InvalidParameter);
    EXPECT_EQ(GdipDrawLinesI(graphics, pen, nullptr, 3), InvalidParameter);
    EXPECT_TRUE(Untouched());

    EXPECT_EQ(GdipSetSmoothingMode(nullptr, SmoothingModeAntiAlias), InvalidParameter);
    EXPECT_EQ(GdipSetPixelOffsetMode(nullptr, PixelOffsetModeHighQuality), InvalidParameter);
    EXPECT_EQ(GdipSetInterpolationMode(nullptr, InterpolationModeHighQualityBicubic),
              InvalidParameter);
    EXPECT_EQ(GdipSetLineWrapMode(nullptr, WrapModeTileFlipX), InvalidParameter);
    EXPECT_EQ(GdipDeleteBrush(nullptr), InvalidParameter);
    EXPECT_EQ(GdipDeletePen(nullptr), InvalidParameter);
    EXPECT_EQ(GdipDeleteGraphics(nullptr), InvalidParameter);
    EXPECT_EQ(GdipCreateSolidFill(0, nullptr), InvalidParameter);
    EXPECT_EQ(GdipCreatePen1(0, 1.0f, UnitWorld, nullptr), InvalidParameter);
}

TEST_F(Statuses, ShortPointListsAreRefusedWithoutBeingRead) {
    // One real point behind each pointer: a read of a second would be caught by AddressSanitizer.
    const Point one{3, 3};
    for (INT count : {2, 1, 0, -1, INT_MIN}) {
        EXPECT_EQ(GdipFillPolygonI(graphics, brush, &one, count, FillModeAlternate),
                  InvalidParameter)
            << count;
    }
    for (INT count : {1, 0, -7, INT_MIN}) {
        EXPECT_EQ(GdipDrawLinesI(graphics, pen, &one, count), InvalidParameter) << count;
    }
    EXPECT_TRUE(Untouched());
}

TEST_F(Statuses, AGradientWithoutLengthIsRefusedAndItsFillDrawsNothing) {
    const Point start{5, 5};
    GpLineGradient* gradient = reinterpret_cast<GpLineGradient*>(0x1);
    EXPECT_EQ(GdipCreateLineBrushI(&start, &start, 0xFFFF0000, 0xFF0000FF, WrapModeTile, &gradient),
              OutOfMemory);
    EXPECT_EQ(gradient, nullptr);

    // Through the wrappers, as a paint meets it.
    Graphics wrapped(lent.Dc());
    LinearGradientBrush brush_wrapper(Point(0, 0), Point(0, 0), Color(0xFFFF0000),
                                      Color(0xFF0000FF));
    EXPECT_EQ(brush_wrapper.GetLastStatus(), OutOfMemory);
    EXPECT_EQ(brush_wrapper.SetWrapMode(WrapModeTileFlipX), InvalidParameter);
    const Point triangle[3] = {{0, 0}, {15, 0}, {0, 15}};
    EXPECT_EQ(wrapped.FillPolygon(&brush_wrapper, triangle, 3, FillModeAlternate),
              InvalidParameter);
    EXPECT_TRUE(Untouched());
}

TEST_F(Statuses, EnumerationValuesOutsideTheirRangesAreRefused) {
    const Point a{0, 0};
    const Point b{8, 0};
    GpLineGradient* gradient = nullptr;
    EXPECT_EQ(GdipCreateLineBrushI(&a, &b, 0, 0, WrapModeClamp, &gradient), InvalidParameter);
    EXPECT_EQ(GdipCreateLineBrushI(&a, &b, 0, 0, static_cast<WrapMode>(-1), &gradient),
              InvalidParameter);
    EXPECT_EQ(GdipCreateLineBrushI(nullptr, &b, 0, 0, WrapModeTile, &gradient), InvalidParameter);
    ASSERT_EQ(GdipCreateLineBrushI(&a, &b, 0, 0, WrapModeTile, &gradient), Ok);
    EXPECT_EQ(GdipSetLineWrapMode(gradient, WrapModeClamp), InvalidParameter);
    EXPECT_EQ(GdipSetLineWrapMode(gradient, WrapModeTileFlipXY), Ok);
    EXPECT_EQ(GdipDeleteBrush(gradient), Ok);

    EXPECT_EQ(GdipSetSmoothingMode(graphics, SmoothingModeInvalid), InvalidParameter);
    EXPECT_EQ(GdipSetSmoothingMode(graphics, static_cast<SmoothingMode>(6)), InvalidParameter);
    EXPECT_EQ(GdipSetPixelOffsetMode(graphics, static_cast<PixelOffsetMode>(5)), InvalidParameter);
    EXPECT_EQ(GdipSetInterpolationMode(graphics, static_cast<InterpolationMode>(8)),
              InvalidParameter);
    const Point triangle[3] = {{0, 0}, {8, 0}, {0, 8}};
    EXPECT_EQ(GdipFillPolygonI(graphics, brush, triangle, 3, static_cast<FillMode>(2)),
              InvalidParameter);
    GpPen* other = nullptr;
    EXPECT_EQ(GdipCreatePen1(0, 1.0f, static_cast<Unit>(7), &other), InvalidParameter);
    EXPECT_EQ(other, nullptr);
    EXPECT_TRUE(Untouched());
}

TEST(Startup, GivesATokenForVersionsOneAndTwoOnly) {
    GdiplusStartupInput input;
    EXPECT_EQ(input.GdiplusVersion, 1u);
    EXPECT_EQ(input.DebugEventCallback, nullptr);
    EXPECT_FALSE(input.SuppressBackgroundThread);
    EXPECT_FALSE(input.SuppressExternalCodecs);

    ULONG_PTR first = 0;
    ULONG_PTR second = 0;
    ASSERT_EQ(GdiplusStartup(&first, &input, nullptr), Ok);
    ASSERT_EQ(GdiplusStartup(&second, &input, nullptr), Ok);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    GdiplusShutdown(second);
    GdiplusShutdown(first);

    ULONG_PTR token = 0;
    input.GdiplusVersion = 3;
    EXPECT_EQ(GdiplusStartup(&token, &input, nullptr), UnsupportedGdiplusVersion);
    input.GdiplusVersion = 1;
    EXPECT_EQ(GdiplusStartup(nullptr, &input, nullptr), InvalidParameter);
    EXPECT_EQ(GdiplusStartup(&token, nullptr, nullptr), InvalidParameter);
    // Without the background thread the caller has to take the notification hooks.
    input.SuppressBackgroundThread = TRUE;
    EXPECT_EQ(GdiplusStartup(&token, &input, nullptr), InvalidParameter);
    GdiplusStartupOutput output;
    ASSERT_EQ(GdiplusStartup(&token, &input, &output), Ok);
    EXPECT_NE(output.NotificationHook, nullptr);
    EXPECT_NE(output.NotificationUnhook, nullptr);
    GdiplusShutdown(token);
}

TEST(Wrappers, AFailedGraphicsFailsEveryCallAndRemembersTheStatus) {
    LentSurface lent(8, 8);
    Graphics graphics(reinterpret_cast<HDC>(static_cast<intptr_t>(999999)));
    EXPECT_NE(graphics.GetLastStatus(), Ok);
    EXPECT_EQ(graphics.GetLastStatus(), Ok); // reading it clears it

    SolidBrush brush(Color(0xFF000000));
    Pen pen(Color(0xFF000000));
    EXPECT_EQ(brush.GetLastStatus(), Ok);
    EXPECT_EQ(pen.GetLastStatus(), Ok);
    const Point points[3] = {{0, 0}, {7, 0}, {0, 7}};
    EXPECT_EQ(graphics.SetSmoothingMode(SmoothingModeAntiAlias), InvalidParameter);
    EXPECT_EQ(graphics.FillRectangle(&brush, 0, 0, 8, 8), InvalidParameter);
    EXPECT_EQ(graphics.DrawLine(&pen, 0, 0, 7, 7), InvalidParameter);
    EXPECT_EQ(graphics.FillPolygon(&brush, points, 3, FillModeAlternate), InvalidParameter);
    EXPECT_EQ(graphics.DrawLines(&pen, points, 3), InvalidParameter);
    EXPECT_EQ(graphics.GetLastStatus(), InvalidParameter);
    EXPECT_EQ(lent.At(0, 0), 0xFFFFFFFFu);
}
