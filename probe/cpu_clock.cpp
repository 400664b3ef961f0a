// The clock rate: the time-stamp counter's cycles between two steps of the millisecond tick
// that the thread saw happen, the first it can take and the first 500 ms or more after it,
// over the milliseconds the tick counted between them. Each step is bracketed by counter
// reads around the two tick reads it fell between, and taken only where that bracket is
// narrow. The reasoning, the bounds and the figures measured are in docs/clock.md.
#include <stdint.h>

#include "probe/cpu_info.h"
#include "probe/hardware.h"

namespace {

constexpr uint32_t kWaitMilliseconds = 500;

// Cycles over exactly 500 ms, times 2e-6, are millions of cycles per second.
constexpr double kCyclesToMegahertz = 2e-6;

// Cycles per microsecond are millions of cycles per second.
constexpr double kMicrosecondsPerMillisecond = 1000.0;

// A difference of 2^63 or more is a counter that went backwards between the two reads (the
// thread moved to a processor whose counter is behind), not a rate.
constexpr uint64_t kFirstBackwardsDifference = uint64_t{1} << 63;

// The longest step of a system's tick, 15.6 ms, is over within 2^24 passes of two reads each
// even at one pass a nanosecond; at a realistic 50 ns a pass, giving up takes under a second.
constexpr uint32_t kMostPassesWithoutAMove = uint32_t{1} << 24;

// The report prints tenths of a MHz: 0.1 MHz over the 500 ms is 50,000 cycles, whatever the
// rate. The counter read taken at each end is late by no more than its bracket, so brackets of
// an eighth of that keep the figure within an eighth of the print step: 2.6 us at 2.4 GHz,
// 104 us at 60 MHz. On a quiet machine a bracket of two passes is well under 1 us.
constexpr uint64_t kNarrowBracketCycles = 50000 / 8;

// At each end the wait takes the narrowest of the first this many steps whose brackets are
// wide, rather than wait on for a narrow one: under constant disturbance it still ends, at
// most 7 steps late.
constexpr uint32_t kMostWideSteps = 8;

// A step of the tick as the thread saw it. The step happened between the tick read before the
// one that showed it and that one; `bracket` is the cycles from a counter read before the first
// to `timeStampCounter`, read right after the second: how late that read can be.
struct Step {
    uint32_t tick;
    uint32_t move;  // how far the tick moved into this step
    uint64_t timeStampCounter;
    uint64_t bracket;
};

// The tick as the last tick read showed it, and the counter read right before that read.
struct LastRead {
    uint32_t tick;
    uint64_t counterBefore;
};

// Steps that the tick showed seen as they happened but whose bracket was wide, at one end.
struct Skipped {
    uint32_t count;
    Step narrowest;
};

// Where the wait stands: looking for a step to start at, confirming that the one taken was
// seen as it happened (by the move that follows it), or waiting for the end.
enum class Wait { kLookingForTheStart, kConfirmingTheStart, kWaitingForTheEnd };

// A move no more than half as large again as its neighbour is one step of the tick; a larger
// one hides steps the thread missed.
bool IsOneStep(uint32_t move, uint32_t neighbour) {
    return move <= neighbour + uint64_t{neighbour} / 2;
}

// Reads the counter and then the tick until the tick moves on from `last`, and the counter
// once more right after the tick read that shows the move; false when it does not move within
// kMostPassesWithoutAMove passes. A counter that went backwards makes the bracket 2^63 or more.
bool ReadUntilTheTickMoves(LastRead& last, Step& step) {
    uint64_t beforeTheLastStill = last.counterBefore;
    for (uint32_t passes = 0; passes < kMostPassesWithoutAMove; ++passes) {
        const uint64_t counter = HardwareTimeStampCounter();
        const uint32_t tick = HardwareMillisecondTick();
        if (tick != last.tick) {
            const uint64_t after = HardwareTimeStampCounter();
            step = {tick, tick - last.tick, after, after - beforeTheLastStill};
            last = {tick, counter};
            return true;
        }
        beforeTheLastStill = counter;
    }
    return false;
}

// A step the tick shows seen as it happened: taken where its bracket is narrow, otherwise
// skipped, until kMostWideSteps have been seen, when the narrowest of them (the first of
// equals) is taken.
bool TakeTheStep(const Step& step, Skipped& skipped, Step& taken) {
    if (step.bracket <= kNarrowBracketCycles) {
        taken = step;
        return true;
    }
    if (skipped.count == 0 || step.bracket < skipped.narrowest.bracket) {
        skipped.narrowest = step;
    }
    if (++skipped.count < kMostWideSteps) {
        return false;
    }
    taken = skipped.narrowest;
    return true;
}

// False when the tick stops moving before an end could be taken. Past 500 ms the wait runs on
// only while each move is more than half as large again as the one before, which no 32-bit
// tick keeps up for 53 moves, or for at most kMostWideSteps steps with wide brackets.
bool WaitForTheSteps(Step& start, Step& end) {
    LastRead last{0, HardwareTimeStampCounter()};
    last.tick = HardwareMillisecondTick();
    uint32_t lastMove = 0;
    Wait wait = Wait::kLookingForTheStart;
    Step candidate{};
    Skipped skippedStarts{};
    Skipped skippedEnds{};
    for (;;) {
        Step step{};
        if (!ReadUntilTheTickMoves(last, step)) {
            // A tick that stops after wide ends still gives the narrowest of them.
            if (skippedEnds.count == 0) {
                return false;
            }
            end = skippedEnds.narrowest;
            return true;
        }
        const uint32_t moveBefore = lastMove;
        lastMove = step.move;
        if (wait == Wait::kConfirmingTheStart) {
            wait =
                IsOneStep(candidate.move, step.move) && TakeTheStep(candidate, skippedStarts, start)
                    ? Wait::kWaitingForTheEnd
                    : Wait::kLookingForTheStart;
        }
        if (wait == Wait::kLookingForTheStart) {
            candidate = step;
            wait = Wait::kConfirmingTheStart;
            continue;
        }
        // Modulo 2^32, so that a wrap from 0xFFFFFFFF to 0 during the wait changes nothing.
        if (step.tick - start.tick >= kWaitMilliseconds && IsOneStep(step.move, moveBefore) &&
            TakeTheStep(step, skippedEnds, end)) {
            return true;
        }
    }
}

double Megahertz(uint64_t cycles, uint32_t milliseconds) {
    if (milliseconds == kWaitMilliseconds) {
        return static_cast<double>(cycles) * kCyclesToMegahertz;
    }
    return static_cast<double>(cycles) / (milliseconds * kMicrosecondsPerMillisecond);
}

}  // namespace

// Without a counter, where the system forbids reading it, where no tick can be read, or where
// the tick stops moving, CpuClock stays 0. The tick is prepared only once the counter is known
// to be readable: the system's clock may read the counter itself.
void MeasureCpuClock() {
    if (TheCpuInfo.TSC == 0 || !HardwareTimeStampCounterReadable() ||
        !HardwarePrepareMillisecondTick()) {
        return;
    }
    Step start{};
    Step end{};
    if (!WaitForTheSteps(start, end)) {
        return;
    }
    // The full 64-bit difference: only the low 32 bits would wrap within 500 ms on a processor
    // above about 8.59 GHz. Unsigned arithmetic keeps a wrap of the counter itself right.
    const uint64_t cycles = end.timeStampCounter - start.timeStampCounter;
    if (cycles >= kFirstBackwardsDifference) {
        return;
    }
    TheCpuInfo.CpuClock = static_cast<float>(Megahertz(cycles, end.tick - start.tick));
}
