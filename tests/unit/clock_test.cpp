// MeasureCpuClock against simulated clocks. With a tick step of s ms the wait starts at the
// first step, s ms in, and ends at the first step 500 or more past it, and the rate is the
// counter's cycles over the milliseconds the tick counted between the two (as cycles * 2e-6
// where that is exactly 500). Where the thread was off the processor at either step, and the
// tick shows it or the counter reads around the tick reads do, the step taken is the next one
// the thread saw as it happened.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "probe/cpu_info.h"
#include "probe/hardware.h"
#include "report/one_decimal.h"
#include "sim/scenario.h"
#include "sim/simulated_processor.h"
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
    {"TickWrapsInCoarseSteps", 0xFFFFFFF8, 16, 0, kOneGigahertz, 1000.0f},
    // Coarse ticks: the wait lasts 512 ms (16 ms steps), 501 ms (3 ms), 504 ms (7 ms), and 500
    // or 1000 ms for one step of that size. The rate is over what the tick counted, the true
    // rate; it used to be taken as over 500 ms (1024.0, 1002.0, 1008.0, 2000.0).
    {"SixteenMillisecondTicks", 0, 16, 0, kOneGigahertz, 1000.0f},
    {"ThreeMillisecondTicks", 0, 3, 0, kOneGigahertz, 1000.0f},
    {"SevenMillisecondTicks", 5, 7, 0, kOneGigahertz, 1000.0f},
    {"OneTickOf500", 0, 500, 0, kOneGigahertz, 1000.0f},
    {"OneTickOf1000", 0, 1000, 0, kOneGigahertz, 1000.0f},
    // The counter wraps between the two reads: its low 32 bits, or all 64.
    {"CounterLowHalfWraps", 0xFFFF0000, 1, 0x00000000FFFF0000, kOneGigahertz, 1000.0f},
    {"CounterLowHalfWrapsHigh", 0, 1, 0x12345678FFFFFF00, kOneGigahertz, 1000.0f},
    {"CounterWrapsAll64Bits", 0, 1, 0xFFFFFFFFFFFF0000, kOneGigahertz, 1000.0f},
    // Above about 8.59 GHz the cycles no longer fit 32 bits; the count stays right.
    {"NineGigahertz", 0, 1, 0, 9000000, 9000.0f},
    {"JustOver32BitCycles", 0, 1, 0, 8589935, 8589.935f},
    {"JustOver32BitCyclesWrapping", 0, 1, 0xFFFFFFFFFFFFFF00, 8589935, 8589.935f},
    // Exactly representable; prints as 466.3. Over 512 counted ms as over 500.
    {"Exactly466_25", 0, 1, 0, 466250, 466.25f},
    {"Exactly466_25OverSixteenMillisecondTicks", 0, 16, 0, 466250, 466.25f},
    // cycles * 2e-6 formed in double and rounded to the nearest float. Working in float
    // instead gives 100.006996 and 2400.00317; truncating the double to float gives
    // 100.007996 for the second row.
    {"RoundedToNearestFloat100_007", 0, 1, 0, 100007, 100.007f},
    {"RoundedToNearestFloat100_008", 0, 1, 0, 100008, 100.008f},
    {"RoundedToNearestFloat2400_003", 0, 1, 0, 2400003, 2400.003f},
    // A counter that goes backwards between the two reads gives no rate. One 512 ms tick makes
    // the difference 512 times the step: just below 2^63 is still a (huge) forward count, over
    // 512 ms the true rate (taken as over 500 ms it was 18446744027136).
    {"CounterStepsBack", 0, 1, 5000000000, kOneCycleBackPerMs, 0.0f},
    {"CounterStepsBackAcrossZero", 0, 1, 100, kOneCycleBackPerMs, 0.0f},
    {"DifferenceOfExactly2To63IsBackwards", 0, 512, 0, uint64_t{1} << 54, 0.0f},
    {"LargestForwardDifference", 0, 512, 0, (uint64_t{1} << 54) - 1, 18014399365120.0f},
};

INSTANTIATE_TEST_SUITE_P(Table, Clock, ::testing::ValuesIn(kClockCases), RowName());

// A wait disturbed by late reads, on a 1 GHz counter unless said; or a tick that stops.
struct DisturbedCase {
    const char* name;
    uint64_t tickStart;
    uint64_t tickStep;
    std::vector<LateRead> lateReads;
    uint64_t tickStopsAtMs;
    float expectedMegahertz;
    uint64_t tscPerMs = kOneGigahertz;
    std::vector<StepChange> stepChanges = {};
};

class DisturbedClock : public ::testing::TestWithParam<DisturbedCase> {};

TEST_P(DisturbedClock, StoresTheRateOverWhatTheTickCounted) {
    const DisturbedCase& row = GetParam();
    Scenario scenario;
    scenario.tickStart = row.tickStart;
    scenario.tickStep = row.tickStep;
    scenario.lateReads = row.lateReads;
    scenario.tickStopsAtMs = row.tickStopsAtMs;
    scenario.tscPerMs = row.tscPerMs;
    scenario.stepChanges = row.stepChanges;
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

// A read of this kind due at `atMs` or later comes `lateUs` microseconds late.
LateRead LateBy(SimulatedRead read, uint64_t atMs, uint64_t lateUs) {
    return {read, atMs, lateUs / 1000, static_cast<uint32_t>(lateUs % 1000 * 1000)};
}

// The tick reads that see `steps` steps of `stepMs` from `fromMs` on each come `lateUs` late.
std::vector<LateRead> EveryStepSeenLate(uint64_t fromMs, uint64_t stepMs, uint64_t steps,
                                        uint64_t lateUs) {
    std::vector<LateRead> late;
    for (uint64_t i = 0; i < steps; ++i) {
        late.push_back(LateBy(kTick, fromMs + i * stepMs, lateUs));
    }
    return late;
}

std::vector<LateRead> Joined(std::vector<LateRead> first, const std::vector<LateRead>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
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
    // A disturbance during the wait changes nothing: the end is seen as it happened (and the
    // figure is the true rate, no longer 512/500 of it).
    {"CoarseLateMidWait", 1000, 16, {{kTick, 200, 40}}, kNever, 1000.0f},
    // The step is learned from the last few moves, not the last one alone: 496 to 499 and then
    // 499 to 503 are both late.
    {"LateTwiceInARowAtTheEnd", 0, 1, {{kTick, 497, 2}, {kTick, 500, 3}}, kNever, 1000.0f},
    {"LateMidWaitAndAtTheEnd", 0, 1, {{kTick, 200, 50}, {kTick, 500, 3}}, kNever, 1000.0f},
    // Off the processor within the last step and back within it: the count moves by one step,
    // only late. The counter reads around the tick reads show the hold-up, and the wait runs on
    // to the next step (taking the late step, it read 517 ms of cycles over 512, 1009.8).
    {"LateByLessThanACoarseStepIsSeenByTheCounter", 1000, 16, {{kTick, 528, 5}}, kNever, 1000.0f},
    // The first read of all, of the counter, comes late: before any tick read, so none of it
    // is counted. A counter read late within the start step is skipped like the late end.
    {"FirstCounterReadLate", 1000, 16, {{kCounter, 0, 10}}, kNever, 1000.0f},
    {"CounterReadLateWithinTheStartStepIsSeen", 1000, 16, {{kCounter, 16, 5}}, kNever, 1000.0f},
    // Every step around the start comes 5 ms late and every step around the end 3 ms: after
    // eight wide brackets at each end the narrowest is taken, the first of equals: 510 ms of
    // cycles over the 512 counted.
    {"EveryCoarseStepHeldUpAtBothEnds", 1000, 16,
     Joined(EveryStepSeenLate(16, 16, 12, 5000), EveryStepSeenLate(528, 16, 12, 3000)), kNever,
     CountedRate(510, 512)},
    // Windows reads its first tick anywhere within a step: here 10 ms into a 16 ms one. The
    // wait starts at the next step, so this is the true rate (it was 534 ms over 544).
    {"CoarseLateAtTheEndStartingWithinAStep",
     1000,
     16,
     {{kTick, 0, 10}, {kTick, 512, 20}},
     kNever,
     1000.0f},
    {"SixteenMillisecondTicksStartingWithinAStep", 0, 16, {{kTick, 0, 5}}, kNever, 1000.0f},
    {"FifteenMillisecondTicksStartingWithinAStep",
     0,
     15,
     {{kTick, 0, 7}},
     kNever,
     2400.0f,
     2400000},
    // The first tick read comes 100 ms after the moment the counter used to be read.
    {"FirstTickRead100msLate", 0, 1, {{kTick, 0, 100}}, kNever, 1000.0f},
    // Off the processor right after the first tick read, past the whole wait: the wait starts
    // where the thread is back (the move into the start is judged by the move after it).
    {"Off600msAfterTheFirstRead", 0, 1, {{kTick, 1, 600}}, kNever, 1000.0f},
    {"Off510msAfterTheFirstRead", 0, 1, {{kTick, 1, 510}}, kNever, 1000.0f},
    {"SuspendedForAnHourAfterTheFirstRead",
     0,
     1,
     {{kTick, 1, 3600000}},
     kNever,
     2445.434f,
     2445434},
    {"CoarseOff600msAfterTheFirstRead", 0, 16, {{kTick, 1, 600}}, kNever, 1000.0f},
    // Off the processor right after the start step: the first move of the wait is judged like
    // any other, and the wait runs on to a step the thread sees.
    {"Off600msRightAfterTheStart", 0, 1, {{kTick, 2, 600}}, kNever, 1000.0f},
    {"CoarseOff600msRightAfterTheStart", 0, 16, {{kTick, 32, 600}}, kNever, 1000.0f},
    {"CoarseLateAtTheEndAcrossTheWrap", 0xFFFFFF00, 16, {{kTick, 512, 20}}, kNever, 1000.0f},
    // A tick that stops, from the start, during the wait, or as the wait runs on past a
    // disturbed end: the measurement gives up and the clock stays 0.
    {"TickNeverMoves", 0, 1, {}, 0, 0.0f},
    {"TickStopsMidWait", 0, 1, {}, 300, 0.0f},
    {"TickStopsAtTheStartStep", 0, 16, {}, 16, 0.0f},
    {"TickStopsAfterALateEnd", 0, 1, {{kTick, 500, 3}}, 503, 0.0f},
    // The steps turn from 1 to 16 ms as the wait ends, as when another program gives up the
    // finer timer resolution it asked Windows for: the new step is learned within a few moves,
    // long before the tick stops at 700 ms, and the figure is over what the tick counted.
    {"StepsTurnCoarseAsTheWaitEnds", 0, 1, EveryTickReadLate(500, 15, 50), 700, 1000.0f},
    // The system's timer resolution changes while the wait runs, as Windows' does when a
    // program asks for a finer one or gives it up: the wait still ends at the first step 500 or
    // more past the start (504 ms in, where the tick stops), or starts on the finer steps.
    {"TimerTurnsCoarseMidWait", 0, 1, {}, 504, 1000.0f, kOneGigahertz, {{200, 16}}},
    {"TimerTurnsFineMidWait", 0, 16, {}, 517, 1000.0f, kOneGigahertz, {{200, 1}}},
    {"TimerTurnsFineRightAfterTheStart", 0, 16, {}, 518, 1000.0f, kOneGigahertz, {{16, 1}}},
    // Windows' 15.6 ms timer moves the count by 16 or 15: 16 after 15 is one step, and the
    // wait ends there (527 ms in, where the tick stops); 31 after 16, two steps unseen, is
    // not, though less than twice the move before it.
    {"UnevenStepsEndTheWaitAtOnce", 0, 16, {}, 527, 1000.0f, kOneGigahertz, {{496, 15}, {511, 16}}},
    {"LateAcrossTwoUnevenSteps",
     0,
     16,
     {{kTick, 512, 20}},
     kNever,
     1000.0f,
     kOneGigahertz,
     {{512, 15}}},
};

INSTANTIATE_TEST_SUITE_P(Table, DisturbedClock, ::testing::ValuesIn(kDisturbedCases), RowName());

// With @read-ns every read takes time, so a hold-up can begin and end anywhere within a step,
// as on a real machine. Each row must print the true rate and end within its simulated time.
struct FineCase {
    const char* name;
    uint64_t tickStep;
    std::vector<LateRead> lateReads;
    const char* expectedText;  // as the report prints it
    uint64_t mostMs;           // simulated time the measurement may take at most
    uint64_t tscPerMs = kOneGigahertz;
    uint64_t tickStopsAtMs = kNever;
};

class FineClock : public ::testing::TestWithParam<FineCase> {};

// A quarter of a microsecond a read: a bracket of four reads is 1 us, narrow at any rate here.
constexpr uint64_t kReadNs = 250;

TEST_P(FineClock, PrintsTheTrueRateInTime) {
    const FineCase& row = GetParam();
    Scenario scenario;
    scenario.readNs = kReadNs;
    scenario.tickStep = row.tickStep;
    scenario.lateReads = row.lateReads;
    scenario.tscPerMs = row.tscPerMs;
    scenario.tickStopsAtMs = row.tickStopsAtMs;
    StartSimulation(scenario);
    TheCpuInfo.TSC = 1;
    MeasureCpuClock();
    char text[kOneDecimalTextSize];
    FormatOneDecimal(TheCpuInfo.CpuClock, text);
    EXPECT_STREQ(text, row.expectedText);
    EXPECT_LE(SimulatedMilliseconds(), row.mostMs);
}

// In brackets, what the wait read when it took any step the tick showed seen as it happened.
const FineCase kFineCases[] = {
    {"Quiet", 1, {}, "1000.0", 502},
    // Held up 0.6 ms within a 1 ms step: at the start (998.8), at the end (1001.2), 0.6 and 0.3
    // ms at both (999.4).
    {"HeldUpWithinTheStartStep", 1, {LateBy(kCounter, 1, 600)}, "1000.0", 503},
    {"HeldUpWithinTheEndStep", 1, {LateBy(kTick, 501, 600)}, "1000.0", 503},
    {"HeldUpWithinBothEndSteps",
     1,
     {LateBy(kCounter, 1, 600), LateBy(kTick, 501, 300), LateBy(kTick, 502, 300)},
     "1000.0",
     504},
    // The same within 16 ms steps, 5 ms at the start (990.2) and at the end (1009.8), 5 and
    // 11 ms at both (1011.7).
    {"HeldUpWithinTheStartStepOfSixteen", 16, {LateBy(kCounter, 16, 5000)}, "1000.0", 545},
    {"HeldUpWithinTheEndStepOfSixteen", 16, {LateBy(kTick, 528, 5000)}, "1000.0", 545},
    {"HeldUpWithinBothEndStepsOfSixteen",
     16,
     {LateBy(kCounter, 16, 5000), LateBy(kTick, 528, 11000), LateBy(kTick, 544, 11000)},
     "1000.0",
     561},
    // Windows' 15 ms count at 2400 MHz, 7 ms late at the end (2432.9).
    {"HeldUpWithinTheEndStepOfFifteenAt2400MHz",
     15,
     {LateBy(kTick, 525, 7000)},
     "2400.0",
     541,
     2400000},
    // A counter read late by a fraction of a 16 ms step, right at the end (1001.2).
    {"CounterReadLateByAFractionOfAStep", 16, {LateBy(kCounter, 528, 600)}, "1000.0", 545},
    // A stall of many steps, which the tick shows.
    {"StallOfManySteps", 1, {LateBy(kTick, 200, 50000)}, "1000.0", 502},
    // A hold-up within every step around both ends: eight wide brackets are skipped at each,
    // and then the narrowest is taken. All came equally late, so the difference is exact.
    {"EveryStepHeldUpAroundBothEnds", 1,
     Joined(EveryStepSeenLate(1, 1, 20, 600), EveryStepSeenLate(501, 1, 20, 600)), "1000.0", 509},
    // Unequal hold-ups at the two ends: the figure is off by their difference, 0.4 ms in 500,
    // and no more.
    {"EveryStepHeldUpUnequally", 1,
     Joined(EveryStepSeenLate(1, 1, 20, 200), EveryStepSeenLate(501, 1, 20, 600)), "1000.8", 509},
    // The tick stops after a few wide ends: the narrowest of them is taken, 0.6 ms late, rather
    // than no figure.
    {"TickStopsAfterWideEnds", 1, EveryStepSeenLate(501, 1, 20, 600), "1001.2", 10000,
     kOneGigahertz, 505},
};

INSTANTIATE_TEST_SUITE_P(Table, FineClock, ::testing::ValuesIn(kFineCases), RowName());

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
