// The clock rate is the time-stamp counter's cycles between two steps of the millisecond tick
// count that the thread saw happen, over the milliseconds the count advanced between them: the
// first step after the start, and the first step 500 or more past it (over exactly 500, the
// cycles times 2e-6, as always). The counter is read as the step is seen and the tick once more
// after it; where the tick has moved, the counter read came late and the next step is taken. A
// step was seen as it happened when the count moved into it by no more than half as much again
// as the move before it, or, for the start step, the move after it; a larger move hides steps
// the thread missed. A disturbance the tick cannot show begins and ends within one step, so the
// figure is off by less than one step in 500 ms. The wait takes at most one step more than
// 500 ms, plus what disturbances add; a count that stops gives up after 2^25 reads (CpuClock 0).
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

// A step of the count as the thread saw it, and the counter read there.
struct Step {
    uint32_t tick;
    uint32_t move;  // how far the count moved into this step
    uint64_t count;
};

bool IsOneStep(uint32_t move, uint32_t neighbour) {
    return move <= neighbour + uint64_t{neighbour} / 2;
}

// Reads the count until it moves on from `tick`; false when it does not within
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

// False when the count stops moving. Past 500 the wait runs on only while each move is more
// than half as large again as the one before, which no 32-bit count keeps up for 53 moves, or
// while the tick keeps moving during the counter read, each time a disturbance of its own.
bool WaitForTheSteps(Step& start, Step& end) {
    uint32_t tick = HardwareMillisecondTick();
    uint32_t lastMove = 0;
    bool started = false;
    bool startJudged = false;
    for (;;) {
        const uint32_t before = tick;
        if (!ReadUntilTheTickMoves(tick)) {
            return false;
        }
        const uint32_t move = tick - before;
        if (started && !startJudged) {
            startJudged = IsOneStep(start.move, move);
            started = startJudged;
        }
        // Modulo 2^32, so that a wrap from 0xFFFFFFFF to 0 during the wait changes nothing.
        const bool atTheEnd =
            started && tick - start.tick >= kWaitMilliseconds && IsOneStep(move, lastMove);
        lastMove = move;
        if (started && !atTheEnd) {
            continue;
        }
        const Step step{tick, move, HardwareTimeStampCounter()};
        const uint32_t tickAfterCount = HardwareMillisecondTick();
        if (tickAfterCount != tick) {
            tick = tickAfterCount;
            continue;
        }
        if (started) {
            end = step;
            return true;
        }
        start = step;
        started = true;
    }
}

double Megahertz(uint64_t cycles, uint32_t milliseconds) {
    if (milliseconds == kWaitMilliseconds) {
        return static_cast<double>(cycles) * kCyclesToMegahertz;
    }
    return static_cast<double>(cycles) / (milliseconds * kMicrosecondsPerMillisecond);
}

}  // namespace

// Without a counter, where the system forbids reading it, where no tick count can be read, or
// where the count stops moving, CpuClock stays 0. The tick is prepared only once the counter is
// known to be readable: the system's clock may read the counter itself.
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
    const uint64_t cycles = end.count - start.count;
    if (cycles >= kFirstBackwardsDifference) {
        return;
    }
    TheCpuInfo.CpuClock = static_cast<float>(Megahertz(cycles, end.tick - start.tick));
}
