// MeasureCpuClock against simulated clocks. With a tick step of s ms the wait ends at the
// first multiple of s that is 500 or more, and the rate is the counter's cycles over that
// time, computed as if it had been exactly 500 ms. Where the thread was off the processor as
// the wait ended, and the tick shows it, the rate is the cycles over the milliseconds the tick
// counted up to the next step the thread saw as it happened.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "probe/cpu_info.h"
#include "probe/hardware.h"
#include "report/one_decimal.h"
#include "tests/sim/scenario.h"
#include "tests/sim/simulated_processor.h"
#include "tests/unit/row_name.h"
#include "tests/unit/simulated_cpu.h"

namespace {

struct ClockCase {
    const char* name;
    uint64_t tickStart;
    uint64_t tickStep;
    uint64_t tscStart;
    uint64_t tscPerMs;
    float expectedMegahertz;
};

class Clock : public ::testing::TestWithParam<ClockCase> {};

// Measures on a processor with a counter; the record must hold the rate and nothing else.
void ExpectClock(const Scenario& scenario, float expectedMegahertz) {
    StartSimulation(scenario);
    TheCpuInfo.TSC = 1;
    MeasureCpuClock();

    CpuInfo expected{};
    expected.TSC = 1;
    expected.CpuClock = expectedMegahertz;
    ExpectSameRecord(expected, TheCpuInfo);
}

TEST_P(Clock, StoresTheRateOverTheWait) {
    const ClockCase& row = GetParam();
    Scenario scenario;
    scenario.tickStart = row.tickStart;
    scenario.tickStep = row.tickStep;
    scenario.tscStart = row.tscStart;
    scenario.tscPerMs = row.tscPerMs;
    ExpectClock(scenario, row.expectedMegahertz);
}

constexpr uint64_t kOneGigahertz = 1000000;          // counts per ms
constexpr uint64_t kOneCycleBackPerMs = UINT64_MAX;  // -1 modulo 2^64

const ClockCase kClockCases[] = {
    {"Default", 0, 1, 0, kOneGigahertz, 1000.0f},
    {"StoppedCounter", 0, 1, 0x123456789, 0, 0.0f},
    // The tick count wraps from 0xFFFFFFFF to 0 during the wait, or right at its end.
    {"TickWrapsEarly", 0xFFFFFFFF, 1, 0, kOneGigahertz, 1000.0f},
    {"TickWrapsHalfway", 0xFFFFFF00, 1, 0, kOneGigahertz, 1000.0f},
    {"TickWrapsToZeroAtTheEnd", 0xFFFFFE0C, 1, 0, kOneGigahertz, 1000.0f},
    {"TickWrapsInCoarseSteps", 0xFFFFFFF8, 16, 0, kOneGigahertz, 1024.0f},
    // Coarse ticks: the wait ends at 512 ms (16 ms steps), 501 ms (3 ms), 504 ms (7 ms), and
    // 500 or 1000 ms for one step of that size; the rate is still taken as over 500 ms.
    {"SixteenMillisecondTicks", 0, 16, 0, kOneGigahertz, 1024.0f},
    {"ThreeMillisecondTicks", 0, 3, 0, kOneGigahertz, 1002.0f},
    {"SevenMillisecondTicks", 5, 7, 0, kOneGigahertz, 1008.0f},
    {"OneTickOf500", 0, 500, 0, kOneGigahertz, 1000.0f},
    {"OneTickOf1000", 0, 1000, 0, kOneGigahertz, 2000.0f},
    // The counter wraps between the two reads: its low 32 bits, or all 64.
    {"CounterLowHalfWraps", 0xFFFF0000, 1, 0x00000000FFFF0000, kOneGigahertz, 1000.0f},
    {"CounterLowHalfWrapsHigh", 0, 1, 0x12345678FFFFFF00, kOneGigahertz, 1000.0f},
    {"CounterWrapsAll64Bits", 0, 1, 0xFFFFFFFFFFFF0000, kOneGigahertz, 1000.0f},
    // Above about 8.59 GHz the cycles no longer fit 32 bits; the count stays right.
    {"NineGigahertz", 0, 1, 0, 9000000, 9000.0f},
    {"JustOver32BitCycles", 0, 1, 0, 8589935, 8589.935f},
    {"JustOver32BitCyclesWrapping", 0, 1, 0xFFFFFFFFFFFFFF00, 8589935, 8589.935f},
    // Exactly representable; prints as 466.3.
    {"Exactly466_25", 0, 1, 0, 466250, 466.25f},
    // cycles * 2e-6 formed in double and rounded to the nearest float. Working in float
    // instead gives 100.006996 and 2400.00317; truncating the double to float gives
    // 100.007996 for the second row.
    {"RoundedToNearestFloat100_007", 0, 1, 0, 100007, 100.007f},
    {"RoundedToNearestFloat100_008", 0, 1, 0, 100008, 100.008f},
    {"RoundedToNearestFloat2400_003", 0, 1, 0, 2400003, 2400.003f},
    // A counter that goes backwards between the two reads gives no rate. One 512 ms tick makes
    // the difference 512 times the step: just below 2^63 is still a (huge) forward count.
    {"CounterStepsBack", 0, 1, 5000000000, kOneCycleBackPerMs, 0.0f},
    {"CounterStepsBackAcrossZero", 0, 1, 100, kOneCycleBackPerMs, 0.0f},
    {"DifferenceOfExactly2To63IsBackwards", 0, 512, 0, uint64_t{1} << 54, 0.0f},
    {"LargestForwardDifference", 0, 512, 0, (uint64_t{1} << 54) - 1, 18446744027136.0f},
};

INSTANTIATE_TEST_SUITE_P(Table, Clock, ::testing::ValuesIn(kClockCases), RowName());

// A wait disturbed by late reads, on a 1 GHz counter; or a tick that stops.
struct DisturbedCase {
    const char* name;
    uint64_t tickStart;
    uint64_t tickStep;
    std::vector<LateRead> lateReads;
    uint64_t tickStopsAtMs;
    float expectedMegahertz;
};

class DisturbedClock : public ::testing::TestWithParam<DisturbedCase> {};

TEST_P(DisturbedClock, StoresTheRateOverWhatTheTickCounted) {
    const DisturbedCase& row = GetParam();
    Scenario scenario;
    scenario.tickStart = row.tickStart;
    scenario.tickStep = row.tickStep;
    scenario.lateReads = row.lateReads;
    scenario.tickStopsAtMs = row.tickStopsAtMs;
    ExpectClock(scenario, row.expectedMegahertz);
}

constexpr SimulatedRead kTick = SimulatedRead::kTick;
constexpr SimulatedRead kCounter = SimulatedRead::kCounter;
constexpr uint64_t kNever = kTickNeverStops;

// Tick reads from `atMs` on each come `lateMs` late, `reads` of them: the count moves by
// lateMs + 1 at each.
std::vector<LateRead> EveryTickReadLate(uint64_t atMs, uint64_t lateMs, uint64_t reads) {
    std::vector<LateRead> late;
    for (uint64_t i = 0; i < reads; ++i) {
        late.push_back({kTick, atMs + i * (lateMs + 1), lateMs});
    }
    return late;
}

// The cycles of a 1 GHz counter over `realMs`, divided by the `countedMs` the tick counted.
float CountedRate(double realMs, double countedMs) {
    return static_cast<float>(realMs * 1e6 / (countedMs * 1e3));
}

const DisturbedCase kDisturbedCases[] = {
    // ..., 498, 499, then 503: the counter would have run 503 ms. The wait runs on to 504.
    {"LateAtTheVeryEnd", 0, 1, {{kTick, 500, 3}}, kNever, 1000.0f},
    // 499, then 501: one whole step unseen is enough.
    {"LateByOneWholeStep", 0, 1, {{kTick, 500, 1}}, kNever, 1000.0f},
    {"LateAtTheEndAcrossTheWrap", 0xFFFFFE0C, 1, {{kTick, 500, 3}}, kNever, 1000.0f},
    // The counter read itself comes late: the tick has moved when read again after it.
    {"CounterReadLate", 0, 1, {{kCounter, 500, 3}}, kNever, 1000.0f},
    {"CounterReadLateByAWholeCoarseStep", 1000, 16, {{kCounter, 512, 20}}, kNever, 1000.0f},
    // 16 ms steps: the undisturbed figure is 512/500 of the rate; a jump from 496 to 528 is two
    // steps, and the wait runs on to the step at 544.
    {"CoarseLateAtTheEnd", 1000, 16, {{kTick, 512, 20}}, kNever, 1000.0f},
    // A disturbance during the wait changes nothing: the end is seen as it happened.
    {"CoarseLateMidWait", 1000, 16, {{kTick, 200, 40}}, kNever, 1024.0f},
    // The step is learned from the last few moves, not the last one alone: 496 to 499 and then
    // 499 to 503 are both late.
    {"LateTwiceInARowAtTheEnd", 0, 1, {{kTick, 497, 2}, {kTick, 500, 3}}, kNever, 1000.0f},
    {"LateMidWaitAndAtTheEnd", 0, 1, {{kTick, 200, 50}, {kTick, 500, 3}}, kNever, 1000.0f},
    // Off the processor within the last step and back within the first: the count moves by
    // one step, only late, and nothing can tell. 517 ms of cycles, taken as 500.
    {"LateByLessThanACoarseStepGoesUnseen", 1000, 16, {{kTick, 512, 5}}, kNever, 1034.0f},
    // Windows reads its start tick anywhere within a step: here 10 ms into a 16 ms one, so the
    // counter runs 534 ms to the step at 544 that ends a disturbed wait.
    {"CoarseLateAtTheEndStartingWithinAStep",
     1000,
     16,
     {{kCounter, 0, 10}, {kTick, 512, 20}},
     kNever,
     CountedRate(534, 544)},
    // A tick that stops, from the start, during the wait, or as the wait runs on past a
    // disturbed end: the measurement gives up and the clock stays 0.
    {"TickNeverMoves", 0, 1, {}, 0, 0.0f},
    {"TickStopsMidWait", 0, 1, {}, 300, 0.0f},
    {"TickStopsAfterALateEnd", 0, 1, {{kTick, 500, 3}}, 503, 0.0f},
    // The steps turn from 1 to 16 ms as the wait ends, as when another program gives up the
    // finer timer resolution it asked Windows for: the new step is learned within a few moves,
    // long before the tick stops at 700 ms, and the figure is over what the tick counted.
    {"StepsTurnCoarseAsTheWaitEnds", 0, 1, EveryTickReadLate(500, 15, 50), 700, 1000.0f},
};

INSTANTIATE_TEST_SUITE_P(Table, DisturbedClock, ::testing::ValuesIn(kDisturbedCases), RowName());

TEST(Clock, Exactly466_25PrintsRoundedUp) {
    Scenario scenario;
    scenario.tscPerMs = 466250;
    StartSimulation(scenario);
    TheCpuInfo.TSC = 1;
    MeasureCpuClock();
    char text[kOneDecimalTextSize];
    FormatOneDecimal(TheCpuInfo.CpuClock, text);
    EXPECT_STREQ(text, "466.3");
}

// No measurement at all: the record stays as it was and the tick is never read.
void ExpectNoMeasurement(const Scenario& scenario, const CpuInfo& before) {
    StartSimulation(scenario);
    TheCpuInfo = before;
    MeasureCpuClock();
    ExpectSameRecord(before, TheCpuInfo);
    EXPECT_FALSE(TickWasRead(scenario));
}

TEST(Clock, WithoutCounterLeavesZeroAndNeverReadsTheTick) {
    Scenario scenario;
    scenario.tickStart = 77;
    CpuInfo before{};
    before.FPU = 1;
    ExpectNoMeasurement(scenario, before);
    EXPECT_FALSE(SimulatedTickWasPrepared());
}

// Preparing the tick may read the counter (the system's clock can be made of it), which faults
// where the counter is forbidden: the tick is not even prepared.
TEST(Clock, ForbiddenCounterLeavesZeroAndNeverReadsTheTick) {
    Scenario scenario;
    scenario.counterForbidden = true;
    CpuInfo before{};
    before.TSC = 1;
    ExpectNoMeasurement(scenario, before);
    EXPECT_FALSE(SimulatedTickWasPrepared());
}

// Where the system refuses every clock, a read of the tick would give the same value forever
// and the wait would never end: no measurement is made.
TEST(Clock, UnreadableTickLeavesZeroAndNeverReadsTheTick) {
    Scenario scenario;
    scenario.tickReadable = false;
    CpuInfo before{};
    before.TSC = 1;
    ExpectNoMeasurement(scenario, before);
    EXPECT_TRUE(SimulatedTickWasPrepared());
}

TEST(Clock, MeasuresAfterAProbedCounter) {
    Scenario scenario;
    scenario.leaves[0x0] = {1, kAuthenticAmdEbx, kAuthenticAmdEcx, kAuthenticAmdEdx};
    scenario.leaves[0x1] = {0x00000543, 0, 0, 1u << 4};
    scenario.tscPerMs = 233000;
    StartSimulation(scenario);
    ProbeCpu();
    MeasureCpuClock();
    EXPECT_EQ(TheCpuInfo.CpuClock, 233.0f);
    EXPECT_TRUE(SimulatedTickWasPrepared());
    EXPECT_TRUE(TickWasRead(scenario));
}

}  // namespace
