#include "report/one_decimal.h"

#include <cmath>
#include <cstdio>
#include <cstring>

std::string FormatOneDecimal(float value) {
    // A float has 24 significant bits and 10 needs 4, so the product is exact in a double, and
    // std::round takes exact halves away from zero: tenths is the exact answer, in tenths.
    const double tenths = std::round(static_cast<double>(value) * 10.0);
    if (!std::isfinite(tenths)) {
        char text[64];
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(value));
        return text;
    }
    // An integer-valued double is printed exactly by "%.0f", without any rounding question.
    char digits[48];
    std::snprintf(digits, sizeof digits, "%.0f", std::fabs(tenths));
    std::string result = std::signbit(tenths) ? "-" : "";
    const std::size_t length = std::strlen(digits);
    if (length == 1) {
        result += '0';
    } else {
        result.append(digits, length - 1);
    }
    result += '.';
    result += digits[length - 1];
    return result;
}
