#pragma once

#include <stddef.h>

// Room for the longest text: a sign, the 39 digits of the largest float, the point, one digit
// and the terminating zero.
constexpr size_t kOneDecimalTextSize = 48;

// Writes the value with exactly one digit after a full stop, its exact value rounded to the
// nearest tenth and exact halves rounded away from zero (466.25 gives "466.3", 0.05f gives
// "0.1"). printf's "%.1f" cannot be used for this: glibc rounds exact halves to even, and the
// C libraries of the smallest builds have no floating-point conversions at all.
//
// The work is done on the float's bits with integer arithmetic alone, and the value is taken
// by reference so that it never passes through a floating-point register: a processor without
// a coprocessor (a 386 or a 486SX) formats its 0.0 like any other.
void FormatOneDecimal(const float& value, char (&text)[kOneDecimalTextSize]);
