// Device coordinates in fixed point, 256ths of a pixel, and the integer division the scan
// converter and the thin lines round with.
#pragma once

#include <cstdint>

namespace gdiplus_cairo {

constexpr int64_t kFixedOne = 256;

struct FixedPoint {
    int64_t x, y;
};

// floor(numerator / denominator) and its ceiling, for a positive denominator.
template <typename Wide> constexpr Wide FloorDivide(Wide numerator, Wide denominator) {
    const Wide quotient = numerator / denominator;
    return numerator % denominator != 0 && numerator < 0 ? quotient - 1 : quotient;
}
template <typename Wide> constexpr Wide CeilDivide(Wide numerator, Wide denominator) {
    return -FloorDivide<Wide>(-numerator, denominator);
}

// The nearest 256th, halves away from zero.
inline int64_t FixedFromDouble(double value) {
    const double scaled = value * static_cast<double>(kFixedOne);
    return static_cast<int64_t>(scaled < 0.0 ? scaled - 0.5 : scaled + 0.5);
}

} // namespace gdiplus_cairo
