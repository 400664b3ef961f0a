// The real POSIX tick count, as the tool links it. Every case prepares the count first, as the
// clock measurement does, so that each starts it afresh whatever ran before it in the process.
#include <gtest/gtest.h>

#include <cstdint>

#include "probe/hardware.h"

namespace {

constexpr int kReads = 100000;
// A difference this large in wrap-safe 32-bit arithmetic is a step backwards.
constexpr uint32_t kBackwards = 0x80000000u;

// Spins until the count moves; the test's timeout turns a count that never moves into a
// failure.
void WaitForAStep() {
    const uint32_t start = HardwareMillisecondTick();
    while (HardwareMillisecondTick() == start) {
    }
}

// Counting from the first read after preparation, one step ahead, is what lets the clock
// measurement start at once on a step it sees happen; a count since boot would make it wait.
TEST(PosixTick, FirstReadIsZero) {
    ASSERT_TRUE(HardwarePrepareMillisecondTick());
    EXPECT_EQ(HardwareMillisecondTick(), 0u);
}

TEST(PosixTick, StepsRightAfterTheFirstRead) {
    ASSERT_TRUE(HardwarePrepareMillisecondTick());
    EXPECT_EQ(HardwareMillisecondTick(), 0u);
    EXPECT_NE(HardwareMillisecondTick(), 0u);
}

// A count once started starts again at each preparation, not only in a fresh process.
TEST(PosixTick, EachPreparationStartsTheCountAgain) {
    ASSERT_TRUE(HardwarePrepareMillisecondTick());
    WaitForAStep();
    ASSERT_TRUE(HardwarePrepareMillisecondTick());
    EXPECT_EQ(HardwareMillisecondTick(), 0u);
}

TEST(PosixTick, NeverStepsBack) {
    ASSERT_TRUE(HardwarePrepareMillisecondTick());
    uint32_t previous = HardwareMillisecondTick();
    for (int i = 0; i < kReads; ++i) {
        const uint32_t tick = HardwareMillisecondTick();
        const uint32_t step = tick - previous;
        ASSERT_LT(step, kBackwards) << "stepped back from " << previous << " to " << tick;
        previous = tick;
    }
}

TEST(PosixTick, Advances) {
    ASSERT_TRUE(HardwarePrepareMillisecondTick());
    WaitForAStep();
    SUCCEED();
}

}  // namespace
