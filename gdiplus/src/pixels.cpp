#include "pixels.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace gdiplus_cairo {

namespace {

uint32_t ToTopByte(double unit) {
    // Cairo's conversion of a unit value to 16 bits, then pixman's to 8.
    return static_cast<uint32_t>(static_cast<uint16_t>(unit * 65535.0 + 0.5)) >> 8;
}

// Storage kept for the thread's life: allocated with malloc, outside any drawing object.
struct Scratch {
    void* block = nullptr;
    std::size_t size = 0;
    ~Scratch() { std::free(block); }
    void* Get(std::size_t wanted, bool zeroed) {
        if (wanted <= size) {
            return block;
        }
        void* grown = zeroed ? std::calloc(wanted, 1) : std::malloc(wanted);
        if (grown == nullptr) {
            return nullptr;
        }
        std::free(block);
        block = grown;
        size = wanted;
        return block;
    }
};

thread_local Scratch t_marks;
thread_local Scratch t_coverage;
thread_local Scratch t_scan;

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
            for (int64_t i = 0; i < width; ++i) {
                pixels[i] = m_colour;
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

void ClearMarks::Run(int64_t x, int64_t y, int64_t width, int64_t height) {
    for (int64_t row = y; row < y + height; ++row) {
        std::memset(m_marks + row * m_image.width + x, 0, static_cast<std::size_t>(width));
    }
}

uint8_t* ScratchMarks(std::size_t size) {
    return static_cast<uint8_t*>(t_marks.Get(size, true));
}

uint8_t* ScratchCoverage(std::size_t size) {
    return static_cast<uint8_t*>(t_coverage.Get(size, false));
}

uint8_t* ScratchScan(std::size_t size) {
    return static_cast<uint8_t*>(t_scan.Get(size, false));
}

void GradientRamp::Build(uint32_t argb1, uint32_t argb2) {
    const auto channel = [](uint32_t argb, int shift) {
        return static_cast<double>((argb >> shift) & 0xFF);
    };
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
