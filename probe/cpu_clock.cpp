// The clock rate is the number of time-stamp-counter cycles that pass while the millisecond
// tick count advances by 500. Nothing waits for a step of the tick count to begin, so how long
// the wait really lasts depends on where within a step the start tick is read. The POSIX
// count starts at its first read, which is this start tick, so there the interval is 500 ms
// to within one pass of the loop. The Windows count steps by its timer's resolution from boot
// and is read at an arbitrary moment within a step, so there the interval is 500 ms give or
// take one step. Nothing corrects for that, nor for the few cycles spent outside the wait.
//
// The end of the wait. The loop learns that the 500th millisecond has passed only when it next
// reads the tick. If the system has given the processor to another program just then, that
// read comes late, the counter runs on meanwhile, and a rate taken as over 500 ms comes out
// high: 5 ms late makes it 1% high. The tick shows it in one of two ways. Either the read that
// ends the wait finds the count moved on by two of its steps or more since the read before,
// so that at least one whole step went by while the thread was not running; or the count has
// moved again when it is read once more right after the counter, so the counter read came
// late. Otherwise the step that ended the wait was seen as it happened, and the figure is the
// cycles times 2e-6, as if exactly 500 ms had passed, as it has always been. The tick cannot
// show a disturbance that begins within the last step before the end and is over within the
// first step after it: the count then moves by one step, only late, and the figure is high by
// less than one step in 500 ms (0.2% with 1 ms steps).
//
// Where the end was not seen as it happened, the wait runs on to the next step that is: the
// thread has just had the processor back, so it is running when that step comes; the counter
// is read there, the tick is read once more to see that it has not moved meanwhile, and the
// figure is the cycles over the milliseconds the tick counted up to that step (504, say). The
// wait then lasts the disturbance and at most one more step; nothing sleeps, and the thread's
// priority and processor stay as they are. Taking the last step seen before the disturbance
// instead would need no more waiting, but the interval would shrink by the whole disturbance,
// and where the start falls anywhere within a step (Windows), the error of a shorter interval
// is larger; run on, the interval is never shorter than 500 ms, and the figure's bound stays
// the undisturbed one's: one step of the tick.
//
// One step of the tick. Windows' steps are the timer's resolution: 1 ms, 15.6 ms (so the count
// moves by 15 or 16) or anything between, and the resolution can change while the wait runs
// when another program asks for a finer one or gives it up. So the step is learned from what
// the count did: a move of at least twice the smallest of its last few moves is two steps or
// more. Moves are differences of the count, never times, so the first one is a whole step
// even where the start tick was read late within its step. A move with no move before it, as
// where one step covers the whole wait, counts as one step: nothing shows otherwise. A false
// alarm, such as a timer interrupt that came late, costs no more than one more step of waiting,
// and the figure it gives is bounded as the undisturbed one is.
#include "probe/cpu_info.h"
#include "probe/hardware.h"

namespace {

constexpr uint32_t kWaitMilliseconds = 500;

// Cycles counted over 500 ms, times 2e-6, are millions of cycles per second.
constexpr double kCyclesToMegahertz = 2e-6;

// Cycles per microsecond are millions of cycles per second.
constexpr double kMicrosecondsPerMillisecond = 1000.0;

// A difference of 2^63 or more is a counter that went backwards between the two reads (the
// thread moved to a processor whose counter is behind), not a rate: no processor counts that
// many cycles in half a second.
constexpr uint64_t kFirstBackwardsDifference = uint64_t{1} << 63;

// How many of the count's latest moves the step is learned from: more than one, so that a
// single late read among them does not pass for the step; few, so that a new resolution is
// learned within a few steps.
constexpr int kRememberedMoves = 4;

// A count that has not moved in this many reads has stopped, and the measurement gives up. The
// longest step of a system's tick, 15.6 ms, is over within 2^25 reads even at one read a
// nanosecond, which no read of a clock achieves; at a realistic 25 ns a read, giving up takes
// under a second.
constexpr uint32_t kMostReadsWithoutAMove = uint32_t{1} << 25;

// Where no move has been seen yet: more than half of any move, so that it lets every move pass
// for one step.
constexpr uint32_t kNoMoveYet = UINT32_MAX;

// What the loop knows about the tick count: its latest value and its latest moves.
struct TickWatch {
    uint32_t tick;
    uint32_t moves[kRememberedMoves];
    int nextMove;
};

// Where the wait ended: the counter there, the milliseconds the tick counted, and whether the
// wait ran on past a disturbed end.
struct WaitEnd {
    uint64_t count;
    uint32_t elapsed;
    bool ranOn;
};

TickWatch StartWatching(uint32_t startTick) {
    TickWatch watch{startTick, {}, 0};
    for (uint32_t& move : watch.moves) {
        move = kNoMoveYet;
    }
    return watch;
}

bool IsOneStep(const TickWatch& watch, uint32_t move) {
    uint32_t smallest = kNoMoveYet;
    for (const uint32_t earlier : watch.moves) {
        smallest = earlier < smallest ? earlier : smallest;
    }
    return move < 2 * uint64_t{smallest};
}

// Takes a new value of the count; true when it moved by one step from the value before.
bool TakeTick(TickWatch& watch, uint32_t tick) {
    const uint32_t move = tick - watch.tick;
    const bool oneStep = IsOneStep(watch, move);
    watch.moves[watch.nextMove] = move;
    watch.nextMove = (watch.nextMove + 1) % kRememberedMoves;
    watch.tick = tick;
    return oneStep;
}

// Reads the count until it moves; false when it does not move in kMostReadsWithoutAMove reads.
bool ReadUntilTheTickMoves(const TickWatch& watch, uint32_t& tick) {
    for (uint32_t reads = 0; reads < kMostReadsWithoutAMove; ++reads) {
        tick = HardwareMillisecondTick();
        if (tick != watch.tick) {
            return true;
        }
    }
    return false;
}

// Spins until the count is 500 or more past the start tick, computed modulo 2^32 so that a
// wrap from 0xFFFFFFFF to 0 during the wait changes nothing, and then until a step seen as it
// happened. False when the count stops moving. It runs on past the end only while the thread
// keeps missing steps or keeps being held up at the counter read, each of which takes a
// disturbance of its own; and ever larger moves cannot keep it running: a move that is not
// one step is at least twice the smallest of the moves before it, so while no step is seen
// the smallest move doubles at least every kRememberedMoves moves, which no 32-bit move can
// keep up for 32 doublings.
bool WaitForTheEnd(uint32_t startTick, WaitEnd& end) {
    TickWatch watch = StartWatching(startTick);
    bool ranOn = false;
    for (;;) {
        uint32_t tick = 0;
        if (!ReadUntilTheTickMoves(watch, tick)) {
            return false;
        }
        const bool seenAsItHappened = TakeTick(watch, tick);
        const uint32_t elapsed = tick - startTick;
        if (elapsed < kWaitMilliseconds) {
            continue;
        }
        if (seenAsItHappened) {
            const uint64_t count = HardwareTimeStampCounter();
            const uint32_t tickAfterCount = HardwareMillisecondTick();
            if (tickAfterCount == tick) {
                end = {count, elapsed, ranOn};
                return true;
            }
            // The counter was read late, and the move found now was not seen as it happened.
            TakeTick(watch, tickAfterCount);
        }
        ranOn = true;
    }
}

double Megahertz(uint64_t cycles, const WaitEnd& end) {
    if (!end.ranOn) {
        return static_cast<double>(cycles) * kCyclesToMegahertz;
    }
    return static_cast<double>(cycles) / (end.elapsed * kMicrosecondsPerMillisecond);
}

}  // namespace

// Without a counter, where the system forbids reading it, where no tick count can be read, or
// where the count stops moving, CpuClock stays 0. The tick is prepared only once the counter is
// known to be readable: the system's clock may read the counter itself.
void MeasureCpuClock() {
    if (TheCpuInfo.TSC == 0 || !HardwareTimeStampCounterReadable()) {
        return;
    }
    if (!HardwarePrepareMillisecondTick()) {
        return;
    }
    const uint64_t startCount = HardwareTimeStampCounter();
    const uint32_t startTick = HardwareMillisecondTick();
    WaitEnd end{};
    if (!WaitForTheEnd(startTick, end)) {
        return;
    }
    // The full 64-bit difference: only the low 32 bits would wrap within 500 ms on a processor
    // above about 8.59 GHz. Unsigned arithmetic keeps a wrap of the counter itself right.
    const uint64_t cycles = end.count - startCount;
    if (cycles >= kFirstBackwardsDifference) {
        return;
    }
    TheCpuInfo.CpuClock = static_cast<float>(Megahertz(cycles, end));
}
