#include "pixels.h"

#include <cmath>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define GDIPLUS_CAIRO_AVX2 1
#endif

namespace gdiplus_cairo {

namespace {

uint32_t ToTopByte(double unit) {
    // Cairo's conversion of a unit value to 16 bits, then pixman's to 8.
    return static_cast<uint32_t>(static_cast<uint16_t>(unit * 65535.0 + 0.5)) >> 8;
}

// A row of one colour, sixteen pixels at a time in aligned stores where SSE2 allows (the
// compiler leaves the plain loop at one pixel a store).
void StorePixels(uint32_t* pixels, int64_t count, uint32_t colour) {
    int64_t i = 0;
#if defined(__SSE2__)
    for (; i < count && (reinterpret_cast<uintptr_t>(pixels + i) & 15) != 0; ++i) {
        pixels[i] = colour;
    }
    const __m128i four = _mm_set1_epi32(static_cast<int>(colour));
    for (; i + 16 <= count; i += 16) {
        auto* at = reinterpret_cast<__m128i*>(pixels + i);
        _mm_store_si128(at, four);
        _mm_store_si128(at + 1, four);
        _mm_store_si128(at + 2, four);
        _mm_store_si128(at + 3, four);
    }
#endif
    for (; i < count; ++i) {
        pixels[i] = colour;
    }
}

struct LastRamp {
    bool built = false;
    uint32_t argb1 = 0;
    uint32_t argb2 = 0;
    GradientRamp ramp;
};
thread_local LastRamp t_last_ramp;

} // namespace

uint32_t PremultipliedPixel(uint32_t argb) {
    const double alpha = static_cast<double>(argb >> 24) / 255.0;
    const auto component = [alpha](uint32_t value) {
        return ToTopByte(static_cast<double>(value & 0xFF) / 255.0 * alpha);
    };
    return ToTopByte(alpha) << 24 | component(argb >> 16) << 16 | component(argb >> 8) << 8 |
           component(argb);
}

PixelRuns::PixelRuns(const PixelImage& image, uint32_t premultiplied, uint8_t* marks)
    : m_image(image), m_colour(premultiplied), m_marks(marks) {}

void PixelRuns::Run(int64_t x, int64_t y, int64_t width, int64_t height) {
    const bool opaque = (m_colour >> 24) == 0xFF;
    if (opaque && width == 1) { // a column, the usual run of a steep line
        uint32_t* pixel = m_image.data + y * m_image.stride + x;
        for (int64_t row = 0; row < height; ++row, pixel += m_image.stride) {
            *pixel = m_colour;
        }
        return;
    }
    for (int64_t row = y; row < y + height; ++row) {
        uint32_t* pixels = m_image.data + row * m_image.stride + x;
        if (opaque) {
            StorePixels(pixels, width, m_colour);
            continue;
        }
        if (m_marks == nullptr) {
            for (int64_t i = 0; i < width; ++i) {
                pixels[i] = BlendOver(m_colour, pixels[i]);
            }
            continue;
        }
        uint8_t* marks = m_marks + row * m_image.width + x;
        for (int64_t i = 0; i < width; ++i) {
            if (marks[i] == 0) {
                marks[i] = 1;
                pixels[i] = BlendOver(m_colour, pixels[i]);
            }
        }
    }
}

void CoverRow(uint32_t* pixels, const uint8_t* coverage, int64_t count, uint32_t premultiplied) {
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128i colours = _mm_set1_epi32(static_cast<int>(premultiplied));
    for (; i + 4 <= count; i += 4) {
        uint32_t four = 0;
        std::memcpy(&four, coverage + i, sizeof four);
        // A thin line's rows are mostly bare between its crossings.
        if (four != 0) {
            CoverOverFour(pixels + i, coverage + i, colours);
        }
    }
#endif
    for (; i < count; ++i) {
        if (coverage[i] != 0) {
            pixels[i] = BlendOver(ScaleChannels(premultiplied, coverage[i]), pixels[i]);
        }
    }
}

void ClearMarks::Run(int64_t x, int64_t y, int64_t width, int64_t height) {
    for (int64_t row = y; row < y + height; ++row) {
        std::memset(m_marks + row * m_image.width + x, 0, static_cast<std::size_t>(width));
    }
}

namespace {

#if GDIPLUS_CAIRO_AVX2
#define GDIPLUS_CAIRO_TARGET_AVX2 __attribute__((target("avx2")))

// The ramp's sample indices for four positions, as 32-bit values.
GDIPLUS_CAIRO_TARGET_AVX2 inline __m128i RampIndices(__m256i positions) {
    const __m256i half = _mm256_set1_epi64x(static_cast<int64_t>(GradientRamp::kHalfStep));
    const __m256i period = _mm256_set1_epi64x(static_cast<int64_t>(GradientRamp::kPeriodMask));
    const __m256i index = _mm256_srli_epi64(
        _mm256_and_si256(_mm256_add_epi64(positions, half), period), GradientRamp::kIndexShift);
    const __m256i even = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(index, even));
}

// Source-over in 16-bit lanes, rounded as BlendOver rounds it.
GDIPLUS_CAIRO_TARGET_AVX2 inline __m256i OverLanes(__m256i source, __m256i destination) {
    const __m256i alpha = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(source, 0xFF), 0xFF);
    const __m256i keep = _mm256_sub_epi16(_mm256_set1_epi16(0xFF), alpha);
    const __m256i t =
        _mm256_add_epi16(_mm256_mullo_epi16(destination, keep), _mm256_set1_epi16(0x80));
    return _mm256_add_epi16(source, _mm256_mulhi_epu16(t, _mm256_set1_epi16(257)));
}

// The ramp's colours at eight positions, step apart, gathered by index; moves on eight steps.
class EightColours {
public:
    GDIPLUS_CAIRO_TARGET_AVX2 EightColours(const GradientRamp& ramp, uint64_t position,
                                           uint64_t step)
        : m_ramp(ramp), m_eight_steps(_mm256_set1_epi64x(static_cast<int64_t>(8 * step))) {
        const auto at = [=](uint64_t k) { return static_cast<int64_t>(position + k * step); };
        m_low = _mm256_setr_epi64x(at(0), at(1), at(2), at(3));
        m_high = _mm256_setr_epi64x(at(4), at(5), at(6), at(7));
    }
    GDIPLUS_CAIRO_TARGET_AVX2 __m256i Next() {
        const __m256i index = _mm256_inserti128_si256(_mm256_castsi128_si256(RampIndices(m_low)),
                                                      RampIndices(m_high), 1);
        m_low = _mm256_add_epi64(m_low, m_eight_steps);
        m_high = _mm256_add_epi64(m_high, m_eight_steps);
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(m_ramp.Colours()), index, 4);
    }

private:
    const GradientRamp& m_ramp;
    __m256i m_eight_steps;
    __m256i m_low;
    __m256i m_high;
};

// Eight pixels at a time where the processor has AVX2: the ramp's colours gathered by index, then
// the arithmetic of BlendOver in each 16-bit lane. Returns how many pixels it did.
GDIPLUS_CAIRO_TARGET_AVX2 int64_t CompositeRampRunEights(uint32_t* pixels, int64_t count,
                                                         const GradientRamp& ramp,
                                                         uint64_t position, uint64_t step) {
    EightColours eight(ramp, position, step);
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i zero = _mm256_setzero_si256();
    int64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i colours = eight.Next();
        auto* at_pixels = reinterpret_cast<__m256i*>(pixels + i);
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_and_si256(colours, opaque), opaque)) ==
            -1) {
            _mm256_storeu_si256(at_pixels, colours);
            continue;
        }
        // Bytes widen within each 128-bit half, and pack back the same way.
        const __m256i destination = _mm256_loadu_si256(at_pixels);
        const __m256i low =
            OverLanes(_mm256_unpacklo_epi8(colours, zero), _mm256_unpacklo_epi8(destination, zero));
        const __m256i high =
            OverLanes(_mm256_unpackhi_epi8(colours, zero), _mm256_unpackhi_epi8(destination, zero));
        _mm256_storeu_si256(at_pixels, _mm256_packus_epi16(low, high));
    }
    return i;
}

GDIPLUS_CAIRO_TARGET_AVX2 int64_t RampColoursEights(uint32_t* colours, int64_t count,
                                                    const GradientRamp& ramp, uint64_t position,
                                                    uint64_t step) {
    EightColours eight(ramp, position, step);
    int64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(colours + i), eight.Next());
    }
    return i;
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2");
#endif

} // namespace

void CompositeRampRun(uint32_t* pixels, int64_t count, const GradientRamp& ramp, uint64_t position,
                      uint64_t step) {
    int64_t i = 0;
#if GDIPLUS_CAIRO_AVX2
    if (kHasAvx2) {
        i = CompositeRampRunEights(pixels, count, ramp, position, step);
    }
#endif
#if defined(__SSE2__)
    for (; i + 4 <= count; i += 4) {
        OverFour(pixels + i, FourColours(ramp, position + static_cast<uint64_t>(i) * step, step));
    }
#endif
    for (; i < count; ++i) {
        const uint32_t colour = ramp.At(position + static_cast<uint64_t>(i) * step);
        pixels[i] = (colour >> 24) == 0xFF ? colour : BlendOver(colour, pixels[i]);
    }
}

void RampColours(uint32_t* colours, int64_t count, const GradientRamp& ramp, uint64_t position,
                 uint64_t step) {
    int64_t i = 0;
#if GDIPLUS_CAIRO_AVX2
    if (kHasAvx2) {
        i = RampColoursEights(colours, count, ramp, position, step);
    }
#endif
    for (; i < count; ++i) {
        colours[i] = ramp.At(position + static_cast<uint64_t>(i) * step);
    }
}

namespace {

// memcpy for the short runs of a row, without a call: fixed-size copies, the last of them
// overlapping the one before where the count is not a whole number of them.
void CopyPixels(uint32_t* to, const uint32_t* from, int64_t count) {
    struct Eight {
        uint32_t pixels[8];
    };
    struct Four {
        uint32_t pixels[4];
    };
    const auto copy = [&](int64_t at, auto block) {
        std::memcpy(&block, from + at, sizeof block);
        std::memcpy(to + at, &block, sizeof block);
    };
    if (count >= 8) {
        for (int64_t i = 0; i + 8 <= count; i += 8) {
            copy(i, Eight{});
        }
        copy(count - 8, Eight{});
    } else if (count >= 4) {
        copy(0, Four{});
        copy(count - 4, Four{});
    } else {
        for (int64_t i = 0; i < count; ++i) {
            to[i] = from[i];
        }
    }
}

} // namespace

void CompositeRampRow(uint32_t* row, const int64_t* bounds, int64_t count, const GradientRamp& ramp,
                      uint64_t position, uint64_t step, uint32_t* colours) {
    if (count <= 0) {
        return;
    }
    const int64_t first = bounds[0];
    const int64_t extent = bounds[2 * count - 1] - first;
    int64_t covered = 0;
    for (int64_t k = 0; k < count; ++k) {
        covered += bounds[2 * k + 1] - bounds[2 * k];
    }
    // An opaque colour is stored, not blended. Where the runs are short and the gaps between
    // them narrow, the colours of their whole extent are worked out in one go, whole eights, and
    // copied into each run: cheaper than starting afresh for each of many short runs. Long runs
    // take their colours straight from the ramp.
    if (colours != nullptr && ramp.Opaque() && extent - covered <= 32 * count &&
        covered < 32 * count) {
        RampColours(colours, (extent + 7) / 8 * 8, ramp,
                    position + static_cast<uint64_t>(first) * step, step);
        for (int64_t k = 0; k < count; ++k) {
            CopyPixels(row + bounds[2 * k], colours + (bounds[2 * k] - first),
                       bounds[2 * k + 1] - bounds[2 * k]);
        }
        return;
    }
    for (int64_t k = 0; k < count; ++k) {
        CompositeRampRun(row + bounds[2 * k], bounds[2 * k + 1] - bounds[2 * k], ramp,
                         position + static_cast<uint64_t>(bounds[2 * k]) * step, step);
    }
}

void GradientRamp::Build(uint32_t argb1, uint32_t argb2) {
    const auto channel = [](uint32_t argb, int shift) {
        return static_cast<double>((argb >> shift) & 0xFF);
    };
    m_opaque = true;
    for (int i = 0; i < 2 * kSteps; ++i) {
        const double t = i <= kSteps ? static_cast<double>(i) / kSteps
                                     : static_cast<double>(2 * kSteps - i) / kSteps;
        const auto mix = [&](int shift) {
            return channel(argb1, shift) + (channel(argb2, shift) - channel(argb1, shift)) * t;
        };
        const double alpha = mix(24);
        const auto premultiply = [&](int shift) {
            return static_cast<uint32_t>(alpha * mix(shift) / 255.0 + 0.5);
        };
        m_colours[i] = static_cast<uint32_t>(alpha + 0.5) << 24 | premultiply(16) << 16 |
                       premultiply(8) << 8 | premultiply(0);
        m_opaque = m_opaque && (m_colours[i] >> 24) == 0xFF;
    }
}

const GradientRamp& RampOf(uint32_t argb1, uint32_t argb2) {
    LastRamp& last = t_last_ramp;
    if (!last.built || last.argb1 != argb1 || last.argb2 != argb2) {
        last.ramp.Build(argb1, argb2);
        last.built = true;
        last.argb1 = argb1;
        last.argb2 = argb2;
    }
    return last.ramp;
}

uint64_t GradientRamp::Position(double t) const {
    constexpr double period = 2.0;
    double reduced = t - period * std::floor(t / period);
    if (!(reduced >= 0.0 && reduced < period)) {
        reduced = 0.0; // rounding at the period's edge
    }
    return static_cast<uint64_t>(reduced * 4294967296.0);
}

} // namespace gdiplus_cairo
