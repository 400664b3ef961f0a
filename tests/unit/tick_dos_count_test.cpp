// The DOS tick's arithmetic: channel 0's place in its period in modes 2 and 3 (both halves of
// mode 3), the tick the BIOS has not counted yet, and the milliseconds counted over readings of a
// timer walked clock by clock, exact against the timer's own rate.
#include <gtest/gtest.h>

#include <cstdint>

#include "probe/tick_dos_count.h"
#include "tests/unit/row_name.h"

namespace {

// Read-back status bytes: counter 0, low then high byte, binary count.
constexpr uint8_t kMode2 = 0x34;
constexpr uint8_t kMode3 = 0x36;
constexpr uint8_t kMode6 = 0x3C;  // mode 2 by another name
constexpr uint8_t kMode7 = 0x3E;  // mode 3 by another name
constexpr uint8_t kOutHigh = kStatusOutHigh;

struct PlaceCase {
    const char* name;
    uint8_t status;
    uint16_t count;
    uint32_t clocksIntoPeriod;
};

class TimerPlace : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(TimerPlace, IsTheClocksSinceThePeriodBegan) {
    const PlaceCase& row = GetParam();
    EXPECT_EQ(ClocksIntoPeriod(row.status, row.count), row.clocksIntoPeriod);
}

const PlaceCase kPlaceCases[] = {
    {"Mode3FirstHalfJustLoaded", kMode3 | kOutHigh, 0, 0},
    {"Mode3FirstHalfOneClockIn", kMode3 | kOutHigh, 65534, 1},
    {"Mode3FirstHalfLastClock", kMode3 | kOutHigh, 2, 32767},
    {"Mode3SecondHalfJustLoaded", kMode3, 0, 32768},
    {"Mode3SecondHalfOneClockIn", kMode3, 65534, 32769},
    {"Mode3SecondHalfLastClock", kMode3, 2, 65535},
    {"Mode7IsMode3", kMode7, 32768, 49152},
    {"Mode2JustLoaded", kMode2, 0, 0},
    {"Mode2OneClockIn", kMode2, 65535, 1},
    {"Mode2Halfway", kMode2 | kOutHigh, 32768, 32768},
    {"Mode2LastClock", kMode2 | kOutHigh, 1, 65535},
    {"Mode6IsMode2", kMode6 | kOutHigh, 1, 65535},
};

INSTANTIATE_TEST_SUITE_P(Table, TimerPlace, ::testing::ValuesIn(kPlaceCases), RowName());

struct StatusCase {
    const char* name;
    uint8_t status;
    uint16_t count;
    bool periodic;
    bool ambiguous;
};

class TimerStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(TimerStatus, SaysWhetherTheReadingServes) {
    const StatusCase& row = GetParam();
    EXPECT_EQ(TimerIsPeriodic(row.status), row.periodic);
    EXPECT_EQ(ReadingIsAmbiguous({0, row.status, row.count, false}), row.ambiguous);
}

const StatusCase kStatusCases[] = {
    {"Mode3", kMode3, 1000, true, false},
    {"Mode2", kMode2, 1000, true, false},
    {"Mode6", kMode6, 1000, true, false},
    {"Mode7", kMode7 | kOutHigh, 1000, true, false},
    {"Mode0OneShot", 0x30, 1000, false, false},
    {"Mode1OneShot", 0x32, 1000, false, false},
    {"Mode4Strobe", 0x38, 1000, false, false},
    {"Mode5Strobe", 0x3A, 1000, false, false},
    {"CountZeroIsEitherEnd", kMode3, 0, true, true},
    {"NullCountIsStale", kMode3 | kStatusNullCount, 1000, true, true},
};

INSTANTIATE_TEST_SUITE_P(Table, TimerStatus, ::testing::ValuesIn(kStatusCases), RowName());

struct UncountedCase {
    const char* name;
    uint8_t status;
    bool requested;
    uint16_t count;
    uint32_t ticks;  // counted: the BIOS's 1000, or 1001 with the uncounted tick
};

class UncountedTick : public ::testing::TestWithParam<UncountedCase> {};

TEST_P(UncountedTick, IsAddedOnlyForARequestFromThisPeriodsStart) {
    const UncountedCase& row = GetParam();
    EXPECT_EQ(TicksCounted({1000, row.status, row.count, row.requested}), row.ticks);
}

const UncountedCase kUncountedCases[] = {
    {"NoRequestFirstHalf", kMode3 | kOutHigh, false, 60000, 1000},
    {"NoRequestSecondHalf", kMode3, false, 60000, 1000},
    {"RequestedJustAfterTheStart", kMode3 | kOutHigh, true, 65534, 1001},
    {"RequestedAtTheFirstHalfsLastClock", kMode3 | kOutHigh, true, 2, 1001},
    // The period ended between the latch and the PIC's reading: the count is right as it is.
    {"RequestedAtTheSecondHalfsStart", kMode3, true, 0, 1000},
    {"RequestedAtThePeriodsLastClock", kMode3, true, 2, 1000},
    {"Mode2RequestedEarly", kMode2, true, 65000, 1001},
    {"Mode2RequestedLate", kMode2, true, 10, 1000},
};

INSTANTIATE_TEST_SUITE_P(Table, UncountedTick, ::testing::ValuesIn(kUncountedCases), RowName());

// A PC's timer at a given clock since it was started: the BIOS count, reset at midnight, and
// channel 0 in mode 2 or 3. The BIOS serves each tick `servedAfter` clocks after its period
// begins; until then the tick is requested at the PIC and missing from the count.
struct SimulatedTimer {
    uint8_t mode;
    uint32_t ticksAtStart;
    uint32_t servedAfter;

    TimerReading ReadingAt(uint64_t clock) const {
        const uint32_t place = static_cast<uint32_t>(clock % kClocksPerTick);
        const bool waiting = clock >= kClocksPerTick && place < servedAfter;
        const uint64_t served = clock / kClocksPerTick - (waiting ? 1 : 0);
        const auto biosTicks = static_cast<uint32_t>((ticksAtStart + served) % kTicksPerDay);
        return {biosTicks, StatusAt(place), CountAt(place), waiting};
    }

    uint8_t StatusAt(uint32_t place) const {
        const bool outHigh = mode == kMode2 || place < kClocksPerTick / 2;
        return static_cast<uint8_t>(mode | (outHigh ? kOutHigh : 0));
    }

    uint16_t CountAt(uint32_t place) const {
        if (mode == kMode2) {
            return static_cast<uint16_t>(kClocksPerTick - place);
        }
        return static_cast<uint16_t>(kClocksPerTick - 2 * (place % (kClocksPerTick / 2)));
    }
};

// Whole milliseconds in `clocks` of the timer, as the count must give them.
uint32_t ExactMilliseconds(uint64_t clocks) {
    return static_cast<uint32_t>(clocks * kMillisecondsPerSecond / kTimerHertz);
}

struct WalkCase {
    const char* name;
    SimulatedTimer timer;
    uint64_t from;    // the clock of the first reading
    uint64_t stride;  // clocks between two readings
    uint64_t readings;
};

class DosTick : public ::testing::TestWithParam<WalkCase> {};

// Every reading gives exactly the whole milliseconds since the first, across both halves of
// every period, each tick the BIOS has not counted yet, and midnight.
TEST_P(DosTick, CountsTheTimersMillisecondsExactly) {
    const WalkCase& row = GetParam();
    DosTickCount count = StartCount(row.timer.ReadingAt(row.from));
    for (uint64_t i = 1; i <= row.readings; ++i) {
        const uint64_t clock = row.from + i * row.stride;
        TakeReading(count, row.timer.ReadingAt(clock));
        ASSERT_FALSE(count.stopped) << "at clock " << clock;
        ASSERT_EQ(count.milliseconds, ExactMilliseconds(clock - row.from)) << "at clock " << clock;
    }
}

constexpr uint32_t kMidnightTicks = kTicksPerDay - 3;
// Longer than a reading of the timer takes even on a PC/AT, so the readings land on both sides.
constexpr uint32_t kLateService = 700;

const WalkCase kWalkCases[] = {
    {"Mode3ServedAtOnce", {kMode3, 1000, 0}, 5, 997, 2000},
    {"Mode3ServedLate", {kMode3, 1000, kLateService}, 5, 997, 2000},
    {"Mode3EveryClockAcrossAPeriodsEnd", {kMode3, 1000, kLateService}, 65000, 1, 3000},
    {"Mode3EveryClockAcrossTheHalf", {kMode3, 1000, 0}, 32000, 1, 2000},
    {"Mode2ServedLate", {kMode2, 1000, kLateService}, 5, 1009, 2000},
    {"AcrossMidnight", {kMode3, kMidnightTicks, kLateService}, 30000, 1013, 500},
    {"FromTheMiddleOfAPeriod", {kMode3, 0x1234, kLateService}, 3 * 65536 + 40000, 4099, 500},
    {"OneReadingAMinute", {kMode3, 7, 0}, 0, 60ull * kTimerHertz + 12345, 30},
};

INSTANTIATE_TEST_SUITE_P(Walks, DosTick, ::testing::ValuesIn(kWalkCases), RowName());

// The clock's wait: 500 milliseconds are counted exactly at the first reading 500 ms of the
// timer's clocks after the start, not one clock before.
TEST(DosTick, CountsFiveHundredMillisecondsAtTheirClock) {
    const SimulatedTimer timer{kMode3, 100, kLateService};
    constexpr uint64_t kFrom = 12345;
    constexpr uint64_t kFiveHundredMs = (500ull * kTimerHertz + 999) / 1000;  // 596591 clocks
    DosTickCount count = StartCount(timer.ReadingAt(kFrom));
    TakeReading(count, timer.ReadingAt(kFrom + kFiveHundredMs - 1));
    EXPECT_EQ(count.milliseconds, 499u);
    TakeReading(count, timer.ReadingAt(kFrom + kFiveHundredMs));
    EXPECT_EQ(count.milliseconds, 500u);
}

// The count wraps from 0xFFFFFFFF to 0 as the Windows tick count does.
TEST(DosTick, WrapsAt32Bits) {
    const SimulatedTimer timer{kMode3, 100, 0};
    DosTickCount count = StartCount(timer.ReadingAt(0));
    count.milliseconds = 0xFFFFFFFEu;
    TakeReading(count, timer.ReadingAt(3580));  // 3.0001 ms
    EXPECT_EQ(count.milliseconds, 1u);
}

// The same moment read again a few clocks behind (DOSBox rounds the count to even values)
// changes nothing, and the count goes on from its furthest reading.
TEST(DosTick, LeavesOutAReadingALittleBehind) {
    const SimulatedTimer timer{kMode3, 100, 0};
    DosTickCount count = StartCount(timer.ReadingAt(0));
    TakeReading(count, timer.ReadingAt(5000));
    const DosTickCount before = count;
    TakeReading(count, timer.ReadingAt(4990));
    EXPECT_FALSE(count.stopped);
    EXPECT_EQ(count.milliseconds, before.milliseconds);
    EXPECT_EQ(count.clocksIntoPeriod, before.clocksIntoPeriod);
    TakeReading(count, timer.ReadingAt(9000));
    EXPECT_EQ(count.milliseconds, ExactMilliseconds(9000));
}

// With the timer's interrupt masked the BIOS count stands still while channel 0 runs on and its
// request stays pending: within a period the count stops, and it never moves again.
TEST(DosTick, StopsWhenTheBiosStopsCounting) {
    constexpr uint32_t kStandingTicks = 500;
    DosTickCount count = StartCount({kStandingTicks, kMode3 | kOutHigh, 60000, false});
    const SimulatedTimer running{kMode3, 0, 0};
    uint64_t stoppedAt = 0;
    for (uint64_t clock = 3000; clock < uint64_t{4} * kClocksPerTick; clock += 997) {
        TimerReading reading = running.ReadingAt(clock);
        reading.biosTicks = kStandingTicks;
        reading.tickRequested = clock >= kClocksPerTick;
        const uint32_t before = count.milliseconds;
        TakeReading(count, reading);
        if (count.stopped && stoppedAt == 0) {
            stoppedAt = clock;
        }
        if (stoppedAt != 0) {
            ASSERT_EQ(count.milliseconds, before) << "moved after it stopped, at clock " << clock;
        }
    }
    EXPECT_NE(stoppedAt, 0u);
    EXPECT_LT(stoppedAt, uint64_t{2} * kClocksPerTick);
}

// A program that sets channel 0 to a mode that does not repeat takes the BIOS count's base away.
TEST(DosTick, StopsWhenTheTimerNoLongerRepeats) {
    DosTickCount count = StartCount({100, kMode3 | kOutHigh, 60000, false});
    TakeReading(count, {100, 0x30, 50000, false});
    EXPECT_TRUE(count.stopped);
}

}  // namespace
