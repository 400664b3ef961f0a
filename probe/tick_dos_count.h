// The DOS tick's arithmetic: the BIOS count of the timer's interrupts and a latched reading of
// the 8254's channel 0, made into whole milliseconds that count up steadily from the first
// reading. Pure functions of the readings, tested natively (tests/unit/tick_dos_count_test.cpp);
// probe/tick_dos.cpp takes the readings. docs/dos.md gives the reasoning.
#pragma once

#include <stdint.h>

// Channel 0 counts 1,193,182 clocks a second (a third of the 3.579545 MHz colour-burst crystal),
// from 65536 down, so the BIOS counts one tick every 65536 clocks. At midnight the BIOS sets its
// count back to 0 once it reaches 0x1800B0 (a day of ticks, rounded).
constexpr uint32_t kTimerHertz = 1193182;
constexpr uint32_t kClocksPerTick = 65536;
constexpr uint32_t kTicksPerDay = 0x1800B0;
constexpr uint32_t kMillisecondsPerSecond = 1000;

// The status byte of the 8254's read-back command: the OUT pin, a count written but not yet
// loaded (the latched count is stale), and the mode in bits 1-3, whose top bit only makes
// modes 6 and 7 the aliases of 2 and 3.
constexpr uint8_t kStatusOutHigh = 0x80;
constexpr uint8_t kStatusNullCount = 0x40;
constexpr int kStatusModeShift = 1;
constexpr uint8_t kStatusModeMask = 0x3;
constexpr uint8_t kRateGeneratorMode = 2;
constexpr uint8_t kSquareWaveMode = 3;

// A reading behind the last one by no more than this is the same moment read twice and changes
// nothing; further behind, a whole period went by uncounted: the BIOS has stopped counting.
constexpr uint32_t kMostClocksBack = kClocksPerTick / 4;

// One reading, taken with interrupts off: the BIOS count (0040:006C) first, then channel 0's
// latched status and count, then whether the timer's interrupt was requested at the PIC.
struct TimerReading {
    uint32_t biosTicks;
    uint8_t status;
    uint16_t count;
    bool tickRequested;
};

// The count kept from one reading to the next.
struct DosTickCount {
    uint32_t ticks;             // the BIOS count of the furthest reading, its uncounted tick added
    uint32_t clocksIntoPeriod;  // channel 0's place in that tick's period
    uint32_t milliseconds;      // whole milliseconds since the first reading; wraps at 2^32
    uint32_t carried;           // thousandths of a clock towards the next ms: < kTimerHertz
    bool stopped;               // the BIOS stopped counting: the milliseconds stay where they are
};

constexpr uint8_t TimerMode(uint8_t status) {
    return static_cast<uint8_t>((status >> kStatusModeShift) & kStatusModeMask);
}

// The BIOS leaves channel 0 in mode 3; some systems use mode 2. Any other mode does not repeat.
constexpr bool TimerIsPeriodic(uint8_t status) {
    return TimerMode(status) == kRateGeneratorMode || TimerMode(status) == kSquareWaveMode;
}

// A count of 0 is read at either end of a run (65536 just loaded, or the last step), and a null
// count is stale: another reading is taken.
constexpr bool ReadingIsAmbiguous(const TimerReading& reading) {
    return reading.count == 0 || (reading.status & kStatusNullCount) != 0;
}

// Channel 0's place in the current period, 0 to 65535 clocks. In mode 2 the count falls by 1
// from 65536 once a period. In mode 3 it falls by 2 and runs through its range twice a period:
// OUT high in the first half, whose start raises the interrupt, low in the second.
constexpr uint32_t ClocksIntoPeriod(uint8_t status, uint16_t count) {
    const uint32_t counted = (kClocksPerTick - count) % kClocksPerTick;
    if (TimerMode(status) == kRateGeneratorMode) {
        return counted;
    }
    const uint32_t secondHalf = (status & kStatusOutHigh) != 0 ? 0 : kClocksPerTick / 2;
    return counted / 2 + secondHalf;
}

// The ticks up to the reading. The BIOS count was read first, so a period that began before the
// latch is missing from it when its interrupt was still waiting to be served: a request pending
// while channel 0 stands in the first half of its period. One pending in the second half came
// after the latch, and the count is right as it is.
constexpr uint32_t TicksCounted(const TimerReading& reading) {
    const bool uncounted = reading.tickRequested &&
                           ClocksIntoPeriod(reading.status, reading.count) < kClocksPerTick / 2;
    return reading.biosTicks + (uncounted ? 1 : 0);
}

// Clocks from the count's furthest reading to this one, negative when this one is behind. A
// count that fell back by more than half a day went past midnight.
constexpr int64_t ClocksSince(const DosTickCount& count, uint32_t ticks,
                              uint32_t clocksIntoPeriod) {
    int64_t ticksMoved = static_cast<int32_t>(ticks - count.ticks);
    if (ticksMoved < -static_cast<int64_t>(kTicksPerDay / 2)) {
        ticksMoved += kTicksPerDay;
    }
    return ticksMoved * kClocksPerTick + clocksIntoPeriod - count.clocksIntoPeriod;
}

// The count's start: 0 ms at the first reading.
constexpr DosTickCount StartCount(const TimerReading& first) {
    return {TicksCounted(first), ClocksIntoPeriod(first.status, first.count), 0, 0, false};
}

// Adds the whole milliseconds in `clocks` to the count and carries the part of one left over.
// Whole seconds go first, so that the rest fits 32-bit arithmetic: a 64-bit division would call
// libgcc, which has no build for 16-bit code.
constexpr void AddClocks(DosTickCount& count, uint64_t clocks) {
    for (; clocks >= kTimerHertz; clocks -= kTimerHertz) {
        count.milliseconds += kMillisecondsPerSecond;
    }
    const uint32_t thousandths =
        count.carried + static_cast<uint32_t>(clocks) * kMillisecondsPerSecond;
    count.milliseconds += thousandths / kTimerHertz;
    count.carried = thousandths % kTimerHertz;
}

// Takes a reading into the count. A reading a little behind the furthest is left out; one far
// behind, or one that finds channel 0 no longer periodic, stops the count for good.
constexpr void TakeReading(DosTickCount& count, const TimerReading& reading) {
    if (count.stopped) {
        return;
    }
    const uint32_t ticks = TicksCounted(reading);
    const uint32_t clocksIntoPeriod = ClocksIntoPeriod(reading.status, reading.count);
    const int64_t clocks = ClocksSince(count, ticks, clocksIntoPeriod);
    if (!TimerIsPeriodic(reading.status) || clocks < -static_cast<int64_t>(kMostClocksBack)) {
        count.stopped = true;
    } else if (clocks >= 0) {
        AddClocks(count, static_cast<uint64_t>(clocks));
        count.ticks = ticks;
        count.clocksIntoPeriod = clocksIntoPeriod;
    }
}
