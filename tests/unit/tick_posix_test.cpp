// The real POSIX tick count, as the tool links it. Each case runs in its own process (ctest
// runs one case per process), so the first read in a case is the count's first read.
#include <gtest/gtest.h>

#include <cstdint>

#include "probe/hardware.h"

namespace {

constexpr int kReads = 100000;
// A difference this large in wrap-safe 32-bit arithmetic is a step backwards.
constexpr uint32_t kBackwards = 0x80000000u;

// Counting from the first read is what puts the clock measurement's start tick at the very
// beginning of a step; a count since boot would start anywhere within one.
TEST(PosixTick, FirstReadIsZero) { EXPECT_EQ(HardwareMillisecondTick(), 0u); }

TEST(PosixTick, NeverStepsBack) {
    uint32_t previous = HardwareMillisecondTick();
    for (int i = 0; i < kReads; ++i) {
        const uint32_t tick = HardwareMillisecondTick();
        const uint32_t step = tick - previous;
        ASSERT_LT(step, kBackwards) << "stepped back from " << previous << " to " << tick;
        previous = tick;
    }
}

// A count that never moves would leave the clock measurement spinning forever; the test's
// timeout turns that into a failure.
TEST(PosixTick, Advances) {
    const uint32_t start = HardwareMillisecondTick();
    while (HardwareMillisecondTick() == start) {
    }
    SUCCEED();
}

}  // namespace
