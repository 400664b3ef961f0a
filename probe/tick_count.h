// Whole milliseconds since an origin, as the POSIX tick count gives them.
#pragma once

#include <stdint.h>

constexpr uint64_t kNanosecondsPerMillisecond = 1000000u;

// The whole milliseconds from `originNanoseconds` to `nowNanoseconds`, two readings of one
// clock, truncated to 32 bits so that the count wraps from 0xFFFFFFFF to 0 (after about 49.7
// days) as the Windows tick count does. Truncating, never rounding, makes each step begin
// exactly a whole number of milliseconds after the origin; unsigned subtraction keeps the
// result right even if the clock's nanosecond count wraps in between.
constexpr uint32_t MillisecondsSince(uint64_t originNanoseconds, uint64_t nowNanoseconds) {
    return static_cast<uint32_t>((nowNanoseconds - originNanoseconds) / kNanosecondsPerMillisecond);
}
