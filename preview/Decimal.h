// A number as a person writes it: 1, 0.1, 4096, not 1.000000.
#pragma once

#include <cstdio>
#include <string>

namespace preview {

inline std::string Decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

} // namespace preview
