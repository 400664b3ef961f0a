// MillisecondsSince, the arithmetic of the POSIX tick count: whole milliseconds from the
// origin, each step beginning exactly on a whole millisecond, wrapping in 32 bits.
#include <gtest/gtest.h>

#include <cstdint>

#include "probe/tick_count.h"
#include "tests/unit/row_name.h"

namespace {

constexpr uint64_t kMs = kNanosecondsPerMillisecond;
constexpr uint64_t kTwoTo32Ms = (uint64_t{1} << 32) * kMs;
// A clock reading a long way from zero: 400 days since boot.
constexpr uint64_t kLongUptime = uint64_t{400} * 24 * 3600 * 1000 * kMs + 123456789;

struct TickCase {
    const char* name;
    uint64_t origin;
    uint64_t now;
    uint32_t expected;
};

class Tick : public ::testing::TestWithParam<TickCase> {};

TEST_P(Tick, CountsWholeMillisecondsFromTheOrigin) {
    const TickCase& row = GetParam();
    EXPECT_EQ(MillisecondsSince(row.origin, row.now), row.expected);
}

const TickCase kTickCases[] = {
    {"OriginIsZero", kLongUptime, kLongUptime, 0},
    {"OneNanosecondShortOfOneMs", kLongUptime, kLongUptime + kMs - 1, 0},
    {"OneMs", kLongUptime, kLongUptime + kMs, 1},
    // The clock measurement's wait ends exactly 500 ms after the origin, not a nanosecond
    // before.
    {"OneNanosecondShortOf500Ms", kLongUptime, kLongUptime + 500 * kMs - 1, 499},
    {"FiveHundredMs", kLongUptime, kLongUptime + 500 * kMs, 500},
    {"ClockAtZero", 0, 500 * kMs, 500},
    {"OriginMidMillisecondOfTheClock", 700001, 700001 + 500 * kMs - 1, 499},
    // About 49.7 days after the origin the count wraps from 0xFFFFFFFF to 0.
    {"LastMsBeforeTheWrap", kLongUptime, kLongUptime + kTwoTo32Ms - 1, 0xFFFFFFFF},
    {"WrapsToZero", kLongUptime, kLongUptime + kTwoTo32Ms, 0},
    {"FiveHundredPastTheWrap", kLongUptime, kLongUptime + kTwoTo32Ms + 500 * kMs, 500},
    {"TwiceAroundThe32Bits", 0, 2 * kTwoTo32Ms + 7 * kMs, 7},
    // The clock's own 64-bit nanosecond count wrapping in between changes nothing.
    {"ClockWrapsBetweenTheReads", UINT64_MAX - 250 * kMs + 1, 250 * kMs, 500},
};

INSTANTIATE_TEST_SUITE_P(Table, Tick, ::testing::ValuesIn(kTickCases), RowName());

// Walks the clock in 1 µs steps across the count's wrap: every step of the tick is 0 or 1
// (in wrap-safe 32-bit arithmetic), and it is 1 exactly when the clock reaches a whole
// millisecond after the origin.
TEST(Tick, CountsUpSteadilyAcrossTheWrap) {
    constexpr uint64_t kMicrosecond = 1000;
    constexpr uint64_t kFrom = kTwoTo32Ms - 3 * kMs;
    constexpr uint64_t kTo = kTwoTo32Ms + 3 * kMs;
    uint32_t previous = MillisecondsSince(kLongUptime, kLongUptime + kFrom);
    EXPECT_EQ(previous, 0xFFFFFFFDu);
    for (uint64_t since = kFrom + kMicrosecond; since <= kTo; since += kMicrosecond) {
        const uint32_t tick = MillisecondsSince(kLongUptime, kLongUptime + since);
        const uint32_t expectedStep = since % kMs == 0 ? 1 : 0;
        ASSERT_EQ(static_cast<uint32_t>(tick - previous), expectedStep) << "at " << since << " ns";
        previous = tick;
    }
    EXPECT_EQ(previous, 3u);
}

// A wait of 500 steps that starts just before the wrap still sees 500 elapsed, in the same
// unsigned subtraction the clock measurement uses.
TEST(Tick, ElapsedStepsSurviveTheWrap) {
    const uint32_t start = MillisecondsSince(0, kTwoTo32Ms - 100 * kMs);
    const uint32_t end = MillisecondsSince(0, kTwoTo32Ms + 400 * kMs);
    EXPECT_EQ(static_cast<uint32_t>(end - start), 500u);
}

}  // namespace
