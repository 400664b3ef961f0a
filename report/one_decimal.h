#pragma once

#include <string>

// The value with exactly one digit after a full stop, its exact value rounded to the nearest
// tenth and exact halves rounded away from zero (466.25 gives "466.3", 0.05f gives "0.1").
// printf's "%.1f" cannot be used for this: glibc rounds exact halves to even.
std::string FormatOneDecimal(float value);
