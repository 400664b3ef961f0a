// The clock rate is the number of time-stamp-counter cycles that pass while the millisecond
// tick count advances by 500. Nothing waits for a step of the tick count to begin, so how long
// the wait really lasts depends on where within a step the start tick is read. The POSIX
// count starts at its first read, which is this start tick, so there the interval is 500 ms
// to within one pass of the loop. The Windows count steps by its timer's resolution from boot
// and is read at an arbitrary moment within a step, so there the interval is 500 ms give or
// take one step. Nothing corrects for that, nor for the few cycles spent outside the wait.
#include "probe/cpu_info.h"
#include "probe/hardware.h"

namespace {

constexpr uint32_t kWaitMilliseconds = 500;

// Cycles counted over 500 ms, times 2e-6, are millions of cycles per second.
constexpr double kCyclesToMegahertz = 2e-6;

// A difference of 2^63 or more is a counter that went backwards between the two reads (the
// thread moved to a processor whose counter is behind), not a rate: no processor counts that
// many cycles in half a second.
constexpr uint64_t kFirstBackwardsDifference = uint64_t{1} << 63;

// Unsigned 32-bit subtraction, so a wrap of the tick count from 0xFFFFFFFF to 0 during the
// wait still gives the elapsed milliseconds.
void SpinForWaitMilliseconds() {
    const uint32_t startTick = HardwareMillisecondTick();
    uint32_t elapsed = 0;
    do {
        elapsed = HardwareMillisecondTick() - startTick;
    } while (elapsed < kWaitMilliseconds);
}

}  // namespace

// Without a counter, where the system forbids reading it, or where no tick count can be read,
// CpuClock stays 0. The tick is prepared only once the counter is known to be readable: the
// system's clock may read the counter itself.
void MeasureCpuClock() {
    if (TheCpuInfo.TSC == 0 || !HardwareTimeStampCounterReadable()) {
        return;
    }
    if (!HardwarePrepareMillisecondTick()) {
        return;
    }
    const uint64_t startCount = HardwareTimeStampCounter();
    SpinForWaitMilliseconds();
    // The full 64-bit difference: only the low 32 bits would wrap within 500 ms on a processor
    // above about 8.59 GHz. Unsigned arithmetic keeps a wrap of the counter itself right.
    const uint64_t cycles = HardwareTimeStampCounter() - startCount;
    if (cycles >= kFirstBackwardsDifference) {
        return;
    }
    TheCpuInfo.CpuClock = static_cast<float>(static_cast<double>(cycles) * kCyclesToMegahertz);
}
