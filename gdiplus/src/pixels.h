// Drawing straight into the pixels of a plain 32-bit premultiplied ARGB image, for the shapes
// whose pixels the layer decides itself: aliased thin lines and the colours of a line gradient.
#pragma once

#include "geometry.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gdiplus_cairo {

struct PixelImage {
    uint32_t* data;
    int64_t stride; // in pixels
    int64_t width;
    int64_t height;
};

// A colour as Cairo hands it to pixman for an ARGB32 target: each component times alpha, taken to
// 16 bits with rounding and then cut to its top 8 bits.
uint32_t PremultipliedPixel(uint32_t argb);

// Each channel of a premultiplied pixel times factor / 255, rounded as pixman rounds it, two
// channels at a time.
inline uint32_t ScaleChannels(uint32_t pixel, uint32_t factor) {
    constexpr uint32_t kMask = 0x00FF00FF;
    constexpr uint32_t kHalf = 0x00800080;
    uint32_t rb = (pixel & kMask) * factor + kHalf;
    rb = ((rb + ((rb >> 8) & kMask)) >> 8) & kMask;
    uint32_t ag = ((pixel >> 8) & kMask) * factor + kHalf;
    ag = (ag + ((ag >> 8) & kMask)) & ~kMask;
    return rb | ag;
}
// Source-over of a premultiplied colour on one pixel. No channel of a premultiplied colour
// exceeds its alpha, so no sum exceeds 255 and pixman's saturating add is a plain one here.
inline uint32_t BlendOver(uint32_t source, uint32_t destination) {
    return source + ScaleChannels(destination, 255 - (source >> 24));
}

// Writes runs of one colour over an image. Runs must lie within the image. An opaque colour is
// stored; a translucent one is blended, and with marks (or null) a pixel that several runs share
// is blended only once, as when the runs are filled as one shape.
class PixelRuns final : public RunSink {
public:
    PixelRuns(const PixelImage& image, uint32_t premultiplied, uint8_t* marks);
    void Run(int64_t x, int64_t y, int64_t width, int64_t height) override;

private:
    PixelImage m_image;
    uint32_t m_colour;
    uint8_t* m_marks;
};

// Blends one colour over a row of pixels through coverage bytes: the colour scaled by the
// coverage and then over what lies beneath, as pixman composites a colour through a mask.
void CoverRow(uint32_t* pixels, const uint8_t* coverage, int64_t count, uint32_t premultiplied);

// Clears the marks that PixelRuns set for the same runs.
class ClearMarks final : public RunSink {
public:
    ClearMarks(const PixelImage& image, uint8_t* marks) : m_image(image), m_marks(marks) {}
    void Run(int64_t x, int64_t y, int64_t width, int64_t height) override;

private:
    PixelImage m_image;
    uint8_t* m_marks;
};

// The colours of a two-colour linear ramp that repeats mirrored, sampled at kSteps points per ramp
// length over one period (the ramp and its mirror image). Being continuous, it loses nothing but
// rounding to the sampling. Colours interpolate alpha and the unpremultiplied components
// separately and are stored premultiplied, as pixman's gradients do. Positions are ramp lengths in
// 32.32 fixed point, taken modulo the period; unsigned wrap-around keeps sums of them exact however
// far they run.
class GradientRamp {
public:
    static constexpr int kStepBits = 10;
    static constexpr int kSteps = 1 << kStepBits;

    void Build(uint32_t argb1, uint32_t argb2);
    uint64_t Position(double t) const;
    // The sample nearest to a position: half a step more rounds to it.
    static constexpr uint64_t kHalfStep = uint64_t(1) << (31 - kStepBits);
    static constexpr uint64_t kPeriodMask = (uint64_t(2) << 32) - 1;
    static constexpr int kIndexShift = 32 - kStepBits;
    uint32_t At(uint64_t position) const {
        return m_colours[((position + kHalfStep) & kPeriodMask) >> kIndexShift];
    }
    const uint32_t* Colours() const { return m_colours; }
    // Whether every colour of the ramp is opaque, so that blending one stores it.
    bool Opaque() const { return m_opaque; }

private:
    uint32_t m_colours[2 * kSteps];
    bool m_opaque = false;
};

// The ramp between two colours. The last one asked for is kept per thread: a paint makes the same
// gradient brush each time.
const GradientRamp& RampOf(uint32_t argb1, uint32_t argb2);

// Blends a ramp over the image through coverage bytes: pixel (x0 + i, y0 + j) takes the ramp's
// colour at row_positions(j) + i * step, scaled by coverage[j * coverage_stride + i], source-over,
// rounded as pixman rounds it. Pixels without coverage are not touched.
struct CoverageBox {
    const uint8_t* coverage;
    int64_t stride;
    int64_t x0, y0, width, height;
};
template <class RowPosition>
void CompositeRamp(const PixelImage& image, const CoverageBox& box, const GradientRamp& ramp,
                   const RowPosition& row_position, uint64_t step);

// Blends a ramp over a run of pixels at full coverage: pixel i takes the colour at
// position + i * step, as CompositeRamp would with coverage 255.
void CompositeRampRun(uint32_t* pixels, int64_t count, const GradientRamp& ramp, uint64_t position,
                      uint64_t step);

// The colours that CompositeRampRun takes: colours[i] is the ramp's colour at position + i * step.
void RampColours(uint32_t* colours, int64_t count, const GradientRamp& ramp, uint64_t position,
                 uint64_t step);

// The runs of one row, columns bounds[2 k] to bounds[2 k + 1] - 1 for each k below count, from
// left to right, as CompositeRampRun blends each with its pixel 0 at column 0. Colours, if not
// null, is room for the runs' extent + 7 colours.
void CompositeRampRow(uint32_t* row, const int64_t* bounds, int64_t count, const GradientRamp& ramp,
                      uint64_t position, uint64_t step, uint32_t* colours);

} // namespace gdiplus_cairo

#if defined(__SSE2__)
namespace gdiplus_cairo {

// x * factor / 255 in each 16-bit lane, rounded as ScaleChannels rounds it: for t below 2^16,
// (t + (t >> 8)) >> 8 equals (t * 257) >> 16.
inline __m128i ScaleLanes(__m128i x, __m128i factor) {
    const __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, factor), _mm_set1_epi16(0x80));
    return _mm_mulhi_epu16(t, _mm_set1_epi16(257));
}

// Two pixels widened to 16-bit lanes: colours scaled by their coverage, then blended over the
// destination. Coverage 255 leaves a colour as it is and coverage 0 makes it transparent, and
// over with an opaque colour stores it; so no case needs a branch of its own.
inline __m128i CoverOverLanes(__m128i colour, __m128i cover, __m128i destination) {
    const __m128i source = ScaleLanes(colour, cover);
    const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(source, 0xFF), 0xFF);
    const __m128i keep = _mm_sub_epi16(_mm_set1_epi16(0xFF), alpha);
    return _mm_add_epi16(source, ScaleLanes(destination, keep));
}

// Four pixels of CompositeRamp at once.
inline void CoverOverFour(uint32_t* pixels, const uint8_t* coverage, __m128i colours) {
    const __m128i zero = _mm_setzero_si128();
    int32_t four_covers = 0;
    std::memcpy(&four_covers, coverage, sizeof four_covers);
    const __m128i covers = _mm_unpacklo_epi8(_mm_cvtsi32_si128(four_covers), zero);
    const __m128i doubled = _mm_unpacklo_epi16(covers, covers);
    const __m128i destination = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
    const __m128i low =
        CoverOverLanes(_mm_unpacklo_epi8(colours, zero), _mm_unpacklo_epi32(doubled, doubled),
                       _mm_unpacklo_epi8(destination, zero));
    const __m128i high =
        CoverOverLanes(_mm_unpackhi_epi8(colours, zero), _mm_unpackhi_epi32(doubled, doubled),
                       _mm_unpackhi_epi8(destination, zero));
    // No lane exceeds 255, so packing loses nothing.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), _mm_packus_epi16(low, high));
}

// Four pixels of CompositeRampRun at once.
inline void OverFour(uint32_t* pixels, __m128i colours) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(colours, opaque), opaque)) == 0xFFFF) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), colours);
        return;
    }
    const __m128i full = _mm_set1_epi16(0xFF);
    const __m128i destination = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
    const __m128i low = CoverOverLanes(_mm_unpacklo_epi8(colours, zero), full,
                                       _mm_unpacklo_epi8(destination, zero));
    const __m128i high = CoverOverLanes(_mm_unpackhi_epi8(colours, zero), full,
                                        _mm_unpackhi_epi8(destination, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), _mm_packus_epi16(low, high));
}

// The ramp's colours at four positions, step apart.
inline __m128i FourColours(const GradientRamp& ramp, uint64_t position, uint64_t step) {
    return _mm_setr_epi32(static_cast<int>(ramp.At(position)),
                          static_cast<int>(ramp.At(position + step)),
                          static_cast<int>(ramp.At(position + 2 * step)),
                          static_cast<int>(ramp.At(position + 3 * step)));
}

} // namespace gdiplus_cairo
#endif

template <class RowPosition>
void gdiplus_cairo::CompositeRamp(const PixelImage& image, const CoverageBox& box,
                                  const GradientRamp& ramp, const RowPosition& row_position,
                                  uint64_t step) {
    for (int64_t j = 0; j < box.height; ++j) {
        const uint8_t* coverage = box.coverage + j * box.stride;
        uint32_t* pixels = image.data + (box.y0 + j) * image.stride + box.x0;
        const uint64_t start = row_position(j);
        for (int64_t i = 0; i < box.width;) {
            // Most of a row is usually empty: skip it eight bytes at a time.
            uint64_t eight = 1;
            if (i + 8 <= box.width) {
                std::memcpy(&eight, coverage + i, sizeof eight);
            }
            if (eight == 0) {
                i += 8;
                continue;
            }
#if defined(__SSE2__)
            if (i + 8 <= box.width) {
                for (const int64_t end = i + 8; i < end; i += 4) {
                    uint32_t four = 0;
                    std::memcpy(&four, coverage + i, sizeof four);
                    if (four == 0) {
                        continue;
                    }
                    // Inside the shape coverage is full and needs no scaling.
                    const __m128i colours =
                        FourColours(ramp, start + static_cast<uint64_t>(i) * step, step);
                    if (four == 0xFFFFFFFFu) {
                        OverFour(pixels + i, colours);
                    } else {
                        CoverOverFour(pixels + i, coverage + i, colours);
                    }
                }
                continue;
            }
#endif
            const int64_t end = i + 8 < box.width ? i + 8 : box.width;
            for (; i < end; ++i) {
                const uint32_t cover = coverage[i];
                if (cover == 0) {
                    continue;
                }
                uint32_t colour = ramp.At(start + static_cast<uint64_t>(i) * step);
                if (cover != 0xFF) {
                    colour = ScaleChannels(colour, cover);
                }
                pixels[i] = (colour >> 24) == 0xFF ? colour : BlendOver(colour, pixels[i]);
            }
        }
    }
}
