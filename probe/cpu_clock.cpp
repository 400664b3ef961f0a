// The clock rate: the time-stamp counter's cycles between two steps of the millisecond tick
// that the thread saw happen, the first it can take and the first 500 ms or more after it,
// over the milliseconds the tick counted between them. The reasoning, the bounds and the
// figures measured are in docs/clock.md.
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

// The longest step of a system's tick, 15.6 ms, is over within 2^25 reads even at one read a
// nanosecond; at a realistic 25 ns a read, giving up takes under a second.
constexpr uint32_t kMostReadsWithoutAMove = uint32_t{1} << 25;

// A step of the tick as the thread saw it, and the time-stamp counter read there.
struct Step {
    uint32_t tick;
    uint32_t move;  // how far the tick moved into this step
    uint64_t timeStampCounter;
};

// Where the wait stands: looking for a step to start at, confirming that the one taken was
// seen as it happened (by the move that follows it), or waiting for the end.
enum class Wait { kLookingForTheStart, kConfirmingTheStart, kWaitingForTheEnd };

// A move no more than half as large again as its neighbour is one step of the tick; a larger
// one hides steps the thread missed.
bool IsOneStep(uint32_t move, uint32_t neighbour) {
    return move <= neighbour + uint64_t{neighbour} / 2;
}

// Reads the tick until it moves on from `tick`; false when it does not within
// kMostReadsWithoutAMove reads.
bool ReadUntilTheTickMoves(uint32_t& tick) {
    for (uint32_t reads = 0; reads < kMostReadsWithoutAMove; ++reads) {
        const uint32_t now = HardwareMillisecondTick();
        if (now != tick) {
            tick = now;
            return true;
        }
    }
    return false;
}

// Reads the counter at the step just seen and the tick once more after it. Where the tick has
// moved, the counter read came late: false, with `tick` moved on.
bool ReadTheCounterAtTheStep(uint32_t& tick, uint32_t move, Step& step) {
    const uint64_t timeStampCounter = HardwareTimeStampCounter();
    const uint32_t tickAfter = HardwareMillisecondTick();
    if (tickAfter != tick) {
        tick = tickAfter;
        return false;
    }
    step = {tick, move, timeStampCounter};
    return true;
}

// False when the tick stops moving. Past 500 ms the wait runs on only while each move is more
// than half as large again as the one before, which no 32-bit tick keeps up for 53 moves, or
// while the tick keeps moving during the counter read, each time a disturbance of its own.
bool WaitForTheSteps(Step& start, Step& end) {
    uint32_t tick = HardwareMillisecondTick();
    uint32_t lastMove = 0;
    Wait wait = Wait::kLookingForTheStart;
    for (;;) {
        const uint32_t before = tick;
        if (!ReadUntilTheTickMoves(tick)) {
            return false;
        }
        const uint32_t move = tick - before;
        const uint32_t moveBefore = lastMove;
        lastMove = move;
        if (wait == Wait::kConfirmingTheStart) {
            wait =
                IsOneStep(start.move, move) ? Wait::kWaitingForTheEnd : Wait::kLookingForTheStart;
        }
        if (wait == Wait::kLookingForTheStart) {
            if (ReadTheCounterAtTheStep(tick, move, start)) {
                wait = Wait::kConfirmingTheStart;
            }
            continue;
        }
        // Modulo 2^32, so that a wrap from 0xFFFFFFFF to 0 during the wait changes nothing.
        if (tick - start.tick >= kWaitMilliseconds && IsOneStep(move, moveBefore) &&
            ReadTheCounterAtTheStep(tick, move, end)) {
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
