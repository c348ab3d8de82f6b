// What <gdiplus.h> gives a Windows program, for builds without GDI+: the part that a paint uses,
// under the same names and signatures, drawn with Cairo by libgdiplus_cairo.
//
// The wrapper classes mirror GDI+'s own: each owns one native object, cannot be copied, calls the
// same flat function that GDI+'s wrapper calls and remembers the last failing status. Source
// written against these members compiles unchanged against the real header on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Windows base types that the GDI+ names are built from ------------------------------------

typedef int INT;
typedef unsigned int UINT;
typedef uint32_t UINT32;
typedef int BOOL;
typedef unsigned char BYTE;
typedef short SHORT;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef uintptr_t ULONG_PTR;
typedef void VOID;
typedef void* HANDLE;

// A device context: on Linux a small integer handle lent by CairoDcLend (cairo_dc.h).
typedef struct HDC__* HDC;

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

namespace Gdiplus {

typedef float REAL;
typedef DWORD ARGB;

enum Status {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
    ProfileNotFound = 21
};

enum QualityMode {
    QualityModeInvalid = -1,
    QualityModeDefault = 0,
    QualityModeLow = 1,
    QualityModeHigh = 2
};

enum SmoothingMode {
    SmoothingModeInvalid = QualityModeInvalid,
    SmoothingModeDefault = QualityModeDefault,
    SmoothingModeHighSpeed = QualityModeLow,
    SmoothingModeHighQuality = QualityModeHigh,
    SmoothingModeNone = 3,
    SmoothingModeAntiAlias = 4,
    SmoothingModeAntiAlias8x4 = SmoothingModeAntiAlias,
    SmoothingModeAntiAlias8x8 = 5
};

enum PixelOffsetMode {
    PixelOffsetModeInvalid = QualityModeInvalid,
    PixelOffsetModeDefault = QualityModeDefault,
    PixelOffsetModeHighSpeed = QualityModeLow,
    PixelOffsetModeHighQuality = QualityModeHigh,
    PixelOffsetModeNone = 3,
    PixelOffsetModeHalf = 4
};

enum InterpolationMode {
    InterpolationModeInvalid = QualityModeInvalid,
    InterpolationModeDefault = QualityModeDefault,
    InterpolationModeLowQuality = QualityModeLow,
    InterpolationModeHighQuality = QualityModeHigh,
    InterpolationModeBilinear = 3,
    InterpolationModeBicubic = 4,
    InterpolationModeNearestNeighbor = 5,
    InterpolationModeHighQualityBilinear = 6,
    InterpolationModeHighQualityBicubic = 7
};

enum Unit {
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6
};

enum WrapMode {
    WrapModeTile = 0,
    WrapModeTileFlipX = 1,
    WrapModeTileFlipY = 2,
    WrapModeTileFlipXY = 3,
    WrapModeClamp = 4
};

enum FillMode { FillModeAlternate = 0, FillModeWinding = 1 };

struct Point {
    Point() : X(0), Y(0) {}
    Point(INT x, INT y) : X(x), Y(y) {}
    BOOL Equals(const Point& point) const { return X == point.X && Y == point.Y; }
    INT X;
    INT Y;
};

class Color {
public:
    Color() : Value(0xFF000000) {}
    Color(ARGB argb) : Value(argb) {}
    Color(BYTE r, BYTE g, BYTE b) : Value(MakeARGB(0xFF, r, g, b)) {}
    Color(BYTE a, BYTE r, BYTE g, BYTE b) : Value(MakeARGB(a, r, g, b)) {}

    static ARGB MakeARGB(BYTE a, BYTE r, BYTE g, BYTE b) {
        return (ARGB(a) << 24) | (ARGB(r) << 16) | (ARGB(g) << 8) | ARGB(b);
    }

    BYTE GetA() const { return BYTE(Value >> 24); }
    BYTE GetAlpha() const { return BYTE(Value >> 24); }
    BYTE GetR() const { return BYTE(Value >> 16); }
    BYTE GetRed() const { return BYTE(Value >> 16); }
    BYTE GetG() const { return BYTE(Value >> 8); }
    BYTE GetGreen() const { return BYTE(Value >> 8); }
    BYTE GetB() const { return BYTE(Value); }
    BYTE GetBlue() const { return BYTE(Value); }
    ARGB GetValue() const { return Value; }
    VOID SetValue(ARGB argb) { Value = argb; }

    static const ARGB AlphaMask = 0xFF000000;
    static const ARGB Black = 0xFF000000;
    static const ARGB White = 0xFFFFFFFF;

private:
    ARGB Value;
};

// The native objects. Their contents belong to the drawing layer; brushes of both kinds derive from
// GpBrush so that any of them can be handed where a brush is taken.
class GpGraphics;
class GpPen;
class GpBrush {
public:
    virtual ~GpBrush();

protected:
    GpBrush() = default;
    GpBrush(const GpBrush&) = delete;
    GpBrush& operator=(const GpBrush&) = delete;
};
class GpSolidFill : public GpBrush {
protected:
    GpSolidFill() = default;
};
class GpLineGradient : public GpBrush {
protected:
    GpLineGradient() = default;
};

typedef Status GpStatus;
typedef Point GpPoint;
typedef FillMode GpFillMode;
typedef WrapMode GpWrapMode;
typedef Unit GpUnit;

// ---- Start-up ----------------------------------------------------------------------------------

enum DebugEventLevel { DebugEventLevelFatal = 0, DebugEventLevelWarning = 1 };
typedef VOID (*DebugEventProc)(DebugEventLevel level, char* message);
typedef Status (*NotificationHookProc)(ULONG_PTR* token);
typedef VOID (*NotificationUnhookProc)(ULONG_PTR token);

struct GdiplusStartupInput {
    UINT32 GdiplusVersion;
    DebugEventProc DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;

    GdiplusStartupInput(DebugEventProc debugEventCallback = nullptr,
                        BOOL suppressBackgroundThread = FALSE, BOOL suppressExternalCodecs = FALSE)
        : GdiplusVersion(1), DebugEventCallback(debugEventCallback),
          SuppressBackgroundThread(suppressBackgroundThread),
          SuppressExternalCodecs(suppressExternalCodecs) {}
};

struct GdiplusStartupOutput {
    NotificationHookProc NotificationHook;
    NotificationUnhookProc NotificationUnhook;

    GdiplusStartupOutput() : NotificationHook(nullptr), NotificationUnhook(nullptr) {}
};

extern "C" {
Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                      GdiplusStartupOutput* output);
VOID GdiplusShutdown(ULONG_PTR token);
}

// ---- The flat interface ------------------------------------------------------------------------

namespace DllExports {
extern "C" {
VOID* GdipAlloc(size_t size);
VOID GdipFree(VOID* block);

GpStatus GdipCreateFromHDC(HDC hdc, GpGraphics** graphics);
GpStatus GdipDeleteGraphics(GpGraphics* graphics);
GpStatus GdipSetSmoothingMode(GpGraphics* graphics, SmoothingMode smoothingMode);
GpStatus GdipSetPixelOffsetMode(GpGraphics* graphics, PixelOffsetMode pixelOffsetMode);
GpStatus GdipSetInterpolationMode(GpGraphics* graphics, InterpolationMode interpolationMode);

GpStatus GdipCreateSolidFill(ARGB color, GpSolidFill** brush);
GpStatus GdipCreateLineBrushI(const GpPoint* point1, const GpPoint* point2, ARGB color1,
                              ARGB color2, GpWrapMode wrapMode, GpLineGradient** lineGradient);
GpStatus GdipSetLineWrapMode(GpLineGradient* brush, GpWrapMode wrapMode);
GpStatus GdipDeleteBrush(GpBrush* brush);

GpStatus GdipCreatePen1(ARGB color, REAL width, GpUnit unit, GpPen** pen);
GpStatus GdipDeletePen(GpPen* pen);

GpStatus GdipFillRectangleI(GpGraphics* graphics, GpBrush* brush, INT x, INT y, INT width,
                            INT height);
GpStatus GdipFillPolygonI(GpGraphics* graphics, GpBrush* brush, const GpPoint* points, INT count,
                          GpFillMode fillMode);
GpStatus GdipDrawLineI(GpGraphics* graphics, GpPen* pen, INT x1, INT y1, INT x2, INT y2);
GpStatus GdipDrawLinesI(GpGraphics* graphics, GpPen* pen, const GpPoint* points, INT count);
}
} // namespace DllExports

// ---- The wrapper classes -----------------------------------------------------------------------

class GdiplusBase {
public:
    static void* operator new(size_t size) { return DllExports::GdipAlloc(size); }
    static void* operator new[](size_t size) { return DllExports::GdipAlloc(size); }
    static void operator delete(void* block) { DllExports::GdipFree(block); }
    static void operator delete[](void* block) { DllExports::GdipFree(block); }
};

class Graphics;
class Pen;

class Brush : public GdiplusBase {
    friend class Graphics;
    friend class SolidBrush;
    friend class LinearGradientBrush;

public:
    virtual ~Brush() { DllExports::GdipDeleteBrush(nativeBrush); }

    Status GetLastStatus() const {
        Status result = lastStatus;
        lastStatus = Ok;
        return result;
    }

private:
    Brush() : nativeBrush(nullptr), lastStatus(Ok) {}
    Brush(const Brush&) = delete;
    Brush& operator=(const Brush&) = delete;

    Status updateStatus(Status newStatus) const {
        if (newStatus != Ok) {
            lastStatus = newStatus;
        }
        return newStatus;
    }

    GpBrush* nativeBrush;
    mutable Status lastStatus;
};

class SolidBrush : public Brush {
public:
    SolidBrush(const Color& color) {
        GpSolidFill* nativeSolidFill = nullptr;
        lastStatus = DllExports::GdipCreateSolidFill(color.GetValue(), &nativeSolidFill);
        nativeBrush = nativeSolidFill;
    }

private:
    SolidBrush(const SolidBrush&) = delete;
    SolidBrush& operator=(const SolidBrush&) = delete;
};

class LinearGradientBrush : public Brush {
public:
    LinearGradientBrush(const Point& point1, const Point& point2, const Color& color1,
                        const Color& color2) {
        GpLineGradient* nativeLineGradient = nullptr;
        lastStatus =
            DllExports::GdipCreateLineBrushI(&point1, &point2, color1.GetValue(), color2.GetValue(),
                                             WrapModeTile, &nativeLineGradient);
        nativeBrush = nativeLineGradient;
    }

    Status SetWrapMode(WrapMode wrapMode) {
        return updateStatus(
            DllExports::GdipSetLineWrapMode(static_cast<GpLineGradient*>(nativeBrush), wrapMode));
    }

private:
    LinearGradientBrush(const LinearGradientBrush&) = delete;
    LinearGradientBrush& operator=(const LinearGradientBrush&) = delete;
};

class Pen : public GdiplusBase {
    friend class Graphics;

public:
    Pen(const Color& color, REAL width = 1.0f) : nativePen(nullptr), lastStatus(Ok) {
        lastStatus = DllExports::GdipCreatePen1(color.GetValue(), width, UnitWorld, &nativePen);
    }
    ~Pen() { DllExports::GdipDeletePen(nativePen); }

    Status GetLastStatus() const {
        Status result = lastStatus;
        lastStatus = Ok;
        return result;
    }

private:
    Pen(const Pen&) = delete;
    Pen& operator=(const Pen&) = delete;

    GpPen* nativePen;
    mutable Status lastStatus;
};

class Graphics : public GdiplusBase {
public:
    static Graphics* FromHDC(HDC hdc) { return new Graphics(hdc); }

    Graphics(HDC hdc) : nativeGraphics(nullptr), lastStatus(Ok) {
        lastStatus = DllExports::GdipCreateFromHDC(hdc, &nativeGraphics);
    }
    ~Graphics() { DllExports::GdipDeleteGraphics(nativeGraphics); }

    Status SetSmoothingMode(SmoothingMode smoothingMode) {
        return updateStatus(DllExports::GdipSetSmoothingMode(nativeGraphics, smoothingMode));
    }
    Status SetPixelOffsetMode(PixelOffsetMode pixelOffsetMode) {
        return updateStatus(DllExports::GdipSetPixelOffsetMode(nativeGraphics, pixelOffsetMode));
    }
    Status SetInterpolationMode(InterpolationMode interpolationMode) {
        return updateStatus(
            DllExports::GdipSetInterpolationMode(nativeGraphics, interpolationMode));
    }

    Status FillRectangle(const Brush* brush, INT x, INT y, INT width, INT height) {
        return updateStatus(DllExports::GdipFillRectangleI(
            nativeGraphics, brush ? brush->nativeBrush : nullptr, x, y, width, height));
    }
    Status FillPolygon(const Brush* brush, const Point* points, INT count) {
        return updateStatus(DllExports::GdipFillPolygonI(nativeGraphics,
                                                         brush ? brush->nativeBrush : nullptr,
                                                         points, count, FillModeAlternate));
    }
    Status FillPolygon(const Brush* brush, const Point* points, INT count, FillMode fillMode) {
        return updateStatus(DllExports::GdipFillPolygonI(
            nativeGraphics, brush ? brush->nativeBrush : nullptr, points, count, fillMode));
    }
    Status DrawLine(const Pen* pen, INT x1, INT y1, INT x2, INT y2) {
        return updateStatus(DllExports::GdipDrawLineI(
            nativeGraphics, pen ? pen->nativePen : nullptr, x1, y1, x2, y2));
    }
    Status DrawLine(const Pen* pen, const Point& pt1, const Point& pt2) {
        return DrawLine(pen, pt1.X, pt1.Y, pt2.X, pt2.Y);
    }
    Status DrawLines(const Pen* pen, const Point* points, INT count) {
        return updateStatus(DllExports::GdipDrawLinesI(
            nativeGraphics, pen ? pen->nativePen : nullptr, points, count));
    }

    Status GetLastStatus() const {
        Status result = lastStatus;
        lastStatus = Ok;
        return result;
    }

private:
    Graphics(const Graphics&) = delete;
    Graphics& operator=(const Graphics&) = delete;

    Status updateStatus(Status newStatus) const {
        if (newStatus != Ok) {
            lastStatus = newStatus;
        }
        return newStatus;
    }

    GpGraphics* nativeGraphics;
    mutable Status lastStatus;
};

} // namespace Gdiplus
