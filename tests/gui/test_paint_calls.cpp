// The paint's flat calls: which, in what order, with which arguments and points.
#include "PaintSupport.h"

#include <cmath>
#include <limits>

namespace {

using gdiplus_recording::Call;
using gdiplus_recording::PointsOf;
using Strings = std::vector<std::string>;

class PaintCalls : public PaintTest {};

TEST_F(PaintCalls, EachStyleDrawsInOrderAndReleasesInReverse) {
    host.magnify = 1.0f;
    host.ints[PLUG_BACKGROUND_ALPHA] = 255;
    host.ints[PLUG_BACKGROUND_RED] = 0x10;
    host.ints[PLUG_WAVEFORM_ALPHA] = 255;
    host.ints[PLUG_WAVEFORM_GREEN] = 0x80;
    host.ints[PLUG_SHADING_ALPHA] = 0x40;
    host.ints[PLUG_SHADING_X_PERCENT] = 50;
    host.ints[PLUG_SHADING_Y_PERCENT] = -25;
    Make();
    LentSurface canvas(200, 120, 0);
    for (int32_t mode = 0; mode < 4; ++mode) {
        SetPlug(PLUG_FX_MODE, mode);
        const std::vector<Call> calls = Paint(canvas, 101, 100);
        Strings expected = {"GdipCreateFromHDC", "GdipCreateSolidFill", "GdipFillRectangleI",
                            "GdipDeleteBrush"};
        if (mode >= 2) {
            expected.insert(expected.end(), {"GdipSetSmoothingMode", "GdipSetPixelOffsetMode",
                                             "GdipSetInterpolationMode"});
        }
        expected.insert(expected.end(), {"GdipCreatePen1", "GdipDrawLineI", "GdipCreateLineBrushI",
                                         "GdipSetLineWrapMode"});
        if (mode & 1) {
            expected.push_back("GdipFillPolygonI");
        } else {
            expected.insert(expected.end(), {"GdipDrawLinesI", "GdipDrawLinesI"});
        }
        expected.insert(expected.end(), {"GdipDeleteBrush", "GdipDeletePen", "GdipDeleteGraphics"});
        ASSERT_EQ(Names(calls), expected) << "mode " << mode;

        const Call& graphics = calls[0];
        EXPECT_EQ(Numbers(graphics), std::vector<double>{double(canvas.Handle())});
        ASSERT_NE(graphics.created, nullptr);
        EXPECT_EQ(Numbers(calls[1]), std::vector<double>{double(0xFF100000u)});
        EXPECT_EQ(calls[2].tool, calls[1].created);
        EXPECT_EQ(Numbers(calls[2]), (std::vector<double>{0, 0, 101, 100}));
        EXPECT_EQ(calls[3].target, calls[1].created);
        size_t at = 4;
        if (mode >= 2) {
            EXPECT_EQ(Numbers(calls[4]), std::vector<double>{4});
            EXPECT_EQ(Numbers(calls[5]), std::vector<double>{2});
            EXPECT_EQ(Numbers(calls[6]), std::vector<double>{7});
            at = 7;
        }
        const Call& pen = calls[at];
        EXPECT_EQ(Numbers(pen), (std::vector<double>{double(0xFF008000u), 1.0, 0}));
        EXPECT_EQ(Numbers(calls[at + 1]), (std::vector<double>{0, 50, 100, 50}));
        EXPECT_EQ(calls[at + 1].tool, pen.created);
        const Call& gradient = calls[at + 2];
        EXPECT_EQ(Numbers(gradient), (std::vector<double>{0, 0, 50, -25, double(0xFF008000u),
                                                          double(0x40000000u), 0}));
        EXPECT_EQ(calls[at + 3].target, gradient.created);
        EXPECT_EQ(Numbers(calls[at + 3]), std::vector<double>{1});
        if (mode & 1) {
            EXPECT_EQ(Numbers(calls[at + 4]), (std::vector<double>{203, 0}));
            EXPECT_EQ(calls[at + 4].tool, gradient.created);
        } else {
            EXPECT_EQ(Numbers(calls[at + 4]), std::vector<double>{101});
            EXPECT_EQ(Numbers(calls[at + 5]), std::vector<double>{101});
            EXPECT_EQ(calls[at + 5].tool, pen.created);
        }
        const size_t n = calls.size();
        EXPECT_EQ(calls[n - 3].target, gradient.created);
        EXPECT_EQ(calls[n - 2].target, pen.created);
        EXPECT_EQ(calls[n - 1].target, graphics.created);
        for (const Call& call : calls) {
            if (call.target != nullptr &&
                std::string(call.name).find("Delete") == std::string::npos &&
                std::string(call.name) != "GdipSetLineWrapMode") {
                EXPECT_EQ(call.target, graphics.created) << call.name;
            }
        }
    }
}

TEST_F(PaintCalls, OffDrawsOnlyTheBackgroundAndNoBackgroundDrawsNothing) {
    host.ints[PLUG_ACTIVE] = ACTIVE_OFF;
    Make();
    LentSurface canvas(100, 100, 0);
    EXPECT_EQ(Names(Paint(canvas, 50, 40)),
              (Strings{"GdipCreateFromHDC", "GdipCreateSolidFill", "GdipFillRectangleI",
                       "GdipDeleteBrush", "GdipDeleteGraphics"}));
    SetPlug(PLUG_BACKGROUND_GREEN, -1);
    EXPECT_EQ(Names(Paint(canvas, 50, 40)), (Strings{"GdipCreateFromHDC", "GdipDeleteGraphics"}));
    SetPlug(PLUG_ACTIVE, ACTIVE_HOLD);
    const std::vector<Call> calls = Paint(canvas, 50, 40);
    EXPECT_EQ(calls[1].name, std::string("GdipCreatePen1")) << "trace without a background";
}

// Rows of the upper polyline, then of the lower one, as drawn left to right.
std::vector<int> Rows(const std::vector<Call>& calls, int which) {
    std::vector<int> rows;
    int seen = 0;
    for (const Call& call : calls) {
        if (std::string(call.name) == "GdipDrawLinesI" && seen++ == which) {
            for (const Gdiplus::Point& p : PointsOf(call)) {
                rows.push_back(p.Y);
            }
        }
    }
    return rows;
}

TEST_F(PaintCalls, PointsFollowTheTraceAndRebuildOnlyWhenMarked) {
    GuiModule& view = Make();
    LentSurface canvas(800, 101, 0);
    std::vector<uint8_t> bytes(800, 128);
    bytes[0] = 248;  // +1.0
    bytes[1] = 8;    // -1.0
    bytes[798] = 68; // -0.5
    Frame(bytes.data(), 800);

    std::vector<Call> calls = Paint(canvas, 1000, 100);
    ASSERT_EQ(Numbers(calls[2]), (std::vector<double>{0, 0, 799, 100})) << "width clamp";
    EXPECT_EQ(Numbers(calls[5]), (std::vector<double>{0, 50, 798, 50}));
    std::vector<int> upper = Rows(calls, 0);
    std::vector<int> lower = Rows(calls, 1);
    ASSERT_EQ(upper.size(), 799u);
    ASSERT_EQ(lower.size(), 799u);
    EXPECT_EQ(upper[0], 0); // 50 - 49.5 = 0.5
    EXPECT_EQ(upper[1], 50);
    EXPECT_EQ(lower[798 - 1], 99); // the lower line runs right to left: x = 1 is its 798th point
    EXPECT_EQ(lower[0], 74);       // x = 798: 50 + 24.75
    const Gdiplus::Point* points = Inspect::Points(view);
    EXPECT_EQ(points[799].X, 799);
    EXPECT_EQ(points[799].Y, 50) << "the closing column holds the lower trace";
    EXPECT_EQ(points[2 * 799].X, 0);

    // Same size, no new data: the list stays even though the magnification changed.
    SetMagnify(-1.0f);
    for (int32_t width : {800, 900}) {
        calls = Paint(canvas, width, 100);
        EXPECT_EQ(Numbers(calls[2]), (std::vector<double>{0, 0, 799, 100})) << width;
        EXPECT_EQ(Rows(calls, 0)[0], 0) << width;
    }
    // The next data marks it: now the trace is upside down; height 101 scales by 50.
    Frame(bytes.data(), 800);
    calls = Paint(canvas, 799, 101);
    EXPECT_EQ(Rows(calls, 0)[0], 100);
    EXPECT_EQ(Rows(calls, 1)[797], 0);
    EXPECT_EQ(Inspect::LastHeight(view), 101);
}

TEST_F(PaintCalls, ScrollingPutsTheNewestPeakAtTheRightEdge) {
    GuiModule& view = Make();
    SetPlug(PLUG_FX_MODE, 1);
    for (uint32_t i = 0; i < 850; ++i) { // ring position ends at 50
        Peak(0xFF000000u | (i % 100) << 8 | (i % 100));
    }
    LentSurface canvas(120, 256, 0);
    const std::vector<Call> calls = Paint(canvas, 100, 256);
    ASSERT_EQ(Numbers(calls[calls.size() - 4]), (std::vector<double>{201, 0}));
    const Gdiplus::Point* points = Inspect::Points(view);
    // Entry e holds peak i = e or e + 800; x = 0 shows entry 749, x = 100 the newest, 849.
    auto upper_row = [](int i) { return int(128 - (i % 100) / 128.0 * 127.5); };
    auto lower_row = [](int i) { return int(128 + (i % 100) / 128.0 * 127.5); };
    EXPECT_EQ(points[0].Y, upper_row(749));
    EXPECT_EQ(points[50].Y, upper_row(799));
    EXPECT_EQ(points[51].Y, upper_row(800));
    EXPECT_EQ(points[100].Y, lower_row(849));
    EXPECT_EQ(points[200].Y, lower_row(749));
    EXPECT_EQ(points[200].X, 0);
}

TEST_F(PaintCalls, BadSizesNeitherCrashNorDrawOutOfPlace) {
    GuiModule& view = Make();
    LentSurface canvas(64, 64, 0);
    Inspect::RequestCount(view) = 3;
    gdiplus_recording::Start();
    FakeHost::Dispatch(plug, GUI_OP_PAINT, canvas.Handle(), 0, nullptr);
    gdiplus_recording::Stop();
    EXPECT_TRUE(gdiplus_recording::Calls().empty());
    EXPECT_EQ(Inspect::RequestCount(view), 3) << "no size, no paint";

    // Width 0: one point, a polygon of 1 and two polylines of 0 (both refused by the layer).
    std::vector<Call> calls = Paint(canvas, 0, 64);
    EXPECT_EQ(Numbers(calls[calls.size() - 5]), std::vector<double>{0});
    EXPECT_EQ(Numbers(calls[calls.size() - 4]), std::vector<double>{0});
    EXPECT_EQ(Inspect::LastWidth(view), 0);

    // A negative size is drawn as an empty one; the trace's points are not touched past 0.
    Inspect::Points(view)[1] = Gdiplus::Point(-7, -7);
    calls = Paint(canvas, -5, -9);
    EXPECT_EQ(Numbers(calls[2]), (std::vector<double>{0, 0, 0, 0}));
    EXPECT_EQ(Inspect::Points(view)[1].X, -7);
    SetPlug(PLUG_FX_MODE, 1);
    calls = Paint(canvas, std::numeric_limits<int32_t>::min(), 64);
    EXPECT_EQ(Numbers(calls[calls.size() - 4]), (std::vector<double>{1, 0}));

    // Huge sizes: the gradient end keeps the low 32 bits of each product.
    SetPlug(PLUG_SHADING_X_PERCENT, 1000000000);
    SetPlug(PLUG_SHADING_Y_PERCENT, -7);
    const int32_t height = std::numeric_limits<int32_t>::max();
    calls = Paint(canvas, 799, height);
    const int64_t x_product = int64_t(799) * 1000000000 % (int64_t(1) << 32);
    const int64_t y_product = int64_t(height) * -7 % (int64_t(1) << 32) + (int64_t(1) << 32);
    const auto wrap = [](int64_t p) {
        return p >= (int64_t(1) << 31) ? p - (int64_t(1) << 32) : p;
    };
    for (const Call& call : calls) {
        if (std::string(call.name) == "GdipCreateLineBrushI") {
            EXPECT_EQ(call.numbers[2], double(wrap(x_product) / 100));
            EXPECT_EQ(call.numbers[3], double(wrap(y_product) / 100));
        }
    }
    EXPECT_EQ(Inspect::Points(view)[0].Y, height / 2);
}

TEST_F(PaintCalls, ExtremeMagnificationsGiveDefinedRows) {
    GuiModule& view = Make();
    LentSurface canvas(32, 32, 0);
    std::vector<uint8_t> bytes(800, 128);
    bytes[0] = 255; // +127/120
    bytes[1] = 0;   // -128/120
    const int32_t top = std::numeric_limits<int32_t>::min();
    const int32_t bottom = std::numeric_limits<int32_t>::max();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float magnify;
        int32_t upper0, lower1, rest;
    } cases[] = {
        {0.0f, 50, 50, 50},
        {-1.0f, 102, -2, 50}, // upside down: 50 + 1.0583 * 49.5, 50 - 1.0667 * 49.5
        {1e30f, top, bottom, 50},
        {-1e30f, bottom, top, 50},
        {inf, top, bottom, 50}, // 0 x inf has no row: the centre row stands in
        {std::numeric_limits<float>::quiet_NaN(), 50, 50, 50},
        {3e38f, top, bottom, 50}, // scale beyond the float range
    };
    for (const auto& c : cases) {
        SetMagnify(c.magnify);
        Frame(bytes.data(), 800);
        Paint(canvas, 799, 100);
        const Gdiplus::Point* points = Inspect::Points(view);
        EXPECT_EQ(points[0].Y, c.upper0) << c.magnify;
        EXPECT_EQ(points[2 * 799 - 1].Y, c.lower1) << c.magnify;
        EXPECT_EQ(points[2].Y, c.rest) << c.magnify;
        int32_t size[2] = {10, 10};
        FakeHost::Dispatch(plug, GUI_OP_PAINT, 0, 0, size); // let the next frame mark again
    }
}

} // namespace
