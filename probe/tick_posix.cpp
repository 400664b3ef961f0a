// The millisecond tick count on POSIX systems: whole milliseconds of the raw monotonic clock
// since the count was first read, truncated to 32 bits so that it wraps from 0xFFFFFFFF to 0
// as the Windows tick count does.
//
// Counting from the first read, rather than from boot, puts that read at the very beginning
// of a step. The clock measurement takes its start tick there, so its wait for 500 steps lasts
// 500 ms to within the time of one pass of its loop, instead of anywhere from 499 to 500 ms as
// with milliseconds since boot, read at an arbitrary moment within the current one.
//
// CLOCK_MONOTONIC_RAW runs at the rate of the kernel's clock source as the kernel calibrated
// it, and time synchronisation never adjusts it. CLOCK_MONOTONIC is slewed by NTP by up to
// 500 ppm (0.05%) while an offset is corrected, which would move a half-second figure by more
// than the measurement's own error. Where the raw clock is missing (a system that does not
// define it, or a Linux kernel older than 2.6.28 that refuses it), the monotonic clock is the
// next best: still steady, only slewed.
#include "probe/native_target.h"

#if !CPUPROBE_TARGET_WINDOWS

#include <ctime>

#include "probe/hardware.h"
#include "probe/tick_count.h"

namespace {

constexpr uint64_t kNanosecondsPerSecond = 1000000000u;

uint64_t ClockNanoseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<uint64_t>(now.tv_sec) * kNanosecondsPerSecond +
           static_cast<uint64_t>(now.tv_nsec);
}

// Asking is reading: a clock the kernel refuses fails here, and one it accepts has been read.
clockid_t ChooseTickClock() noexcept {
    timespec now{};
#ifdef CLOCK_MONOTONIC_RAW
    if (clock_gettime(CLOCK_MONOTONIC_RAW, &now) == 0) {
        return CLOCK_MONOTONIC_RAW;
    }
#endif
    clock_gettime(CLOCK_MONOTONIC, &now);
    return CLOCK_MONOTONIC;
}

clockid_t TickClock() {
    static const clockid_t clock = ChooseTickClock();
    return clock;
}

// The first reading of a clock in a process costs some microseconds: the page of the kernel's
// time data and the page of code that reads it are faulted in on that first use. The clock
// measurement reads the counter just before its first tick read; paid as the program starts,
// that cost stays out of the interval it times. Where the process may not read the time-stamp
// counter, nothing is read here: the clock's fast path reads that counter itself when it is
// the kernel's clock source, and would fault; the measurement does not run there anyway.
bool WarmUpTickClock() {
    if (!HardwareTimeStampCounterReadable()) {
        return false;
    }
    TickClock();
    return true;
}
const bool kTickClockWarm = WarmUpTickClock();

}  // namespace

// The first read sets the origin, so it returns 0 and the count's first step begins there.
uint32_t HardwareMillisecondTick() {
    static bool started = false;
    static uint64_t originNanoseconds = 0;
    const uint64_t now = ClockNanoseconds(TickClock());
    if (!started) {
        originNanoseconds = now;
        started = true;
    }
    return MillisecondsSince(originNanoseconds, now);
}

#endif
