#include "LentSurface.h"
#include "gdiplus.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

intptr_t Value(HDC dc) {
    return reinterpret_cast<intptr_t>(dc);
}

HDC FromValue(intptr_t value) {
    return reinterpret_cast<HDC>(value);
}

} // namespace

TEST(DeviceContexts, HandlesAreDistinctPositive32BitValuesAndKeepTheSurfaceAlive) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 4, 4);
    std::set<intptr_t> seen;
    for (int i = 0; i < 200; ++i) {
        HDC dc = CairoDcLend(surface);
        ASSERT_NE(dc, nullptr);
        EXPECT_GT(Value(dc), 0);
        EXPECT_LE(Value(dc), INT32_MAX);
        EXPECT_TRUE(seen.insert(Value(dc)).second) << "handle given twice: " << Value(dc);
        EXPECT_EQ(cairo_surface_get_reference_count(surface), 2u);
        CairoDcReturn(dc);
        EXPECT_EQ(cairo_surface_get_reference_count(surface), 1u);
    }
    cairo_surface_destroy(surface);
}

TEST(DeviceContexts, GraphicsIsMadeOnlyOnALentHandle) {
    HDC returned = nullptr;
    {
        LentSurface lent(8, 8);
        GpGraphics* graphics = nullptr;
        ASSERT_EQ(GdipCreateFromHDC(lent.Dc(), &graphics), Ok);
        ASSERT_NE(graphics, nullptr);
        EXPECT_EQ(GdipDeleteGraphics(graphics), Ok);
        returned = lent.Dc();
    }
    for (HDC dc : {returned, FromValue(0), FromValue(1), FromValue(12345), FromValue(INT32_MAX),
                   FromValue(-1)}) {
        GpGraphics* graphics = reinterpret_cast<GpGraphics*>(0x1);
        EXPECT_NE(GdipCreateFromHDC(dc, &graphics), Ok) << Value(dc);
        EXPECT_EQ(graphics, nullptr);
    }
    EXPECT_EQ(GdipCreateFromHDC(returned, nullptr), InvalidParameter);
}

TEST(DeviceContexts, AReturnedHandleStaysDeadWhenItsSlotIsLentAgain) {
    LentSurface first(4, 4);
    const HDC old = first.Dc();
    CairoDcReturn(old);
    CairoDcReturn(old); // twice is harmless
    LentSurface second(4, 4);
    EXPECT_NE(second.Dc(), old);
    GpGraphics* graphics = nullptr;
    EXPECT_NE(GdipCreateFromHDC(old, &graphics), Ok);
    EXPECT_EQ(GdipCreateFromHDC(second.Dc(), &graphics), Ok);
    GdipDeleteGraphics(graphics);
}

TEST(DeviceContexts, RefusesNullBrokenSurfacesAndAFullTable) {
    EXPECT_EQ(CairoDcLend(nullptr), nullptr);
    cairo_surface_t* broken = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, -5, 4);
    ASSERT_NE(cairo_surface_status(broken), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(CairoDcLend(broken), nullptr);
    cairo_surface_destroy(broken);

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 4, 4);
    std::vector<HDC> lent;
    for (HDC dc = CairoDcLend(surface); dc != nullptr; dc = CairoDcLend(surface)) {
        lent.push_back(dc);
        ASSERT_LT(lent.size(), 100000u) << "the table never fills";
    }
    EXPECT_GE(lent.size(), 16u);
    CairoDcReturn(lent.back());
    lent.pop_back();
    HDC again = CairoDcLend(surface);
    EXPECT_NE(again, nullptr);
    lent.push_back(again);
    for (HDC dc : lent) {
        CairoDcReturn(dc);
    }
    EXPECT_EQ(cairo_surface_get_reference_count(surface), 1u);
    cairo_surface_destroy(surface);
}

TEST(DeviceContexts, GraphicsOutlivingTheLendingStillDrawsSafely) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 4, 4);
    HDC dc = CairoDcLend(surface);
    GpGraphics* graphics = nullptr;
    ASSERT_EQ(GdipCreateFromHDC(dc, &graphics), Ok);
    CairoDcReturn(dc);
    cairo_surface_destroy(surface); // the graphics holds the last reference
    GpSolidFill* brush = nullptr;
    ASSERT_EQ(GdipCreateSolidFill(0xFF00FF00, &brush), Ok);
    EXPECT_EQ(GdipFillRectangleI(graphics, brush, 0, 0, 4, 4), Ok);
    EXPECT_EQ(GdipDeleteBrush(brush), Ok);
    EXPECT_EQ(GdipDeleteGraphics(graphics), Ok);
}
