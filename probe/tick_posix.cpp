// The millisecond tick count on POSIX systems: 0 at its first read after its preparation, then
// 1 more than the whole milliseconds of the raw monotonic clock since that read, truncated to
// 32 bits. Why it is counted so, and which clock stands in where, is in docs/clock.md.
#include "probe/native_target.h"

#if !CPUPROBE_TARGET_WINDOWS && !CPUPROBE_TARGET_DOS

#include <errno.h>
#include <sys/time.h>
#include <time.h>

#if CPUPROBE_TARGET_KLIBC
#include <asm/unistd.h>
#endif

#include "probe/hardware.h"
#include "probe/tick_count.h"

namespace {

#if CPUPROBE_TARGET_KLIBC
using ClockId = int;  // klibc has no clock_gettime, nor its clockid_t: the kernel's is an int
#else
using ClockId = clockid_t;
#endif

constexpr uint64_t kNanosecondsPerSecond = 1000000000u;
constexpr uint64_t kNanosecondsPerMicrosecond = 1000u;

// Not a clock of clock_gettime: the count reads the time of day instead.
constexpr ClockId kTimeOfDay = -1;

#if CPUPROBE_TARGET_KLIBC
// klibc has no clock_gettime; the kernel's call is made directly (int 0x80 reaches it on every
// 32-bit kernel and on 64-bit kernels running 32-bit programs). The kernel answers a negative
// error number, which is turned into the C library's form.
int ReadClock(ClockId clock, timespec* now) {
    long result = __NR_clock_gettime;
    asm volatile("int $0x80" : "+a"(result) : "b"(clock), "c"(now) : "memory");
    if (result < 0) {
        errno = static_cast<int>(-result);
        return -1;
    }
    return 0;
}
#else
int ReadClock(ClockId clock, timespec* now) { return clock_gettime(clock, now); }
#endif

// Which clock the count reads, and the reading its count starts from. Initialised as a
// constant, so that nothing runs before main; HardwarePrepareMillisecondTick sets it up.
struct TickState {
    ClockId clock;
    bool counting;  // false until the first read after preparation has set the origin
    uint64_t originNanoseconds;
};

TickState& State() {
    static TickState state{CLOCK_MONOTONIC, false, 0};
    return state;
}

uint64_t ClockNanoseconds(ClockId clock) {
    if (clock == kTimeOfDay) {
        timeval day{};
        gettimeofday(&day, nullptr);
        return static_cast<uint64_t>(day.tv_sec) * kNanosecondsPerSecond +
               static_cast<uint64_t>(day.tv_usec) * kNanosecondsPerMicrosecond;
    }
    timespec now{};
    ReadClock(clock, &now);
    return static_cast<uint64_t>(now.tv_sec) * kNanosecondsPerSecond +
           static_cast<uint64_t>(now.tv_nsec);
}

// False, with errno set, when the kernel refuses the clock.
bool ClockAnswers(ClockId clock) {
    timespec now{};
    return ReadClock(clock, &now) == 0;
}

// The raw clock where the kernel has it, else the monotonic one, else, on a kernel without
// the call, the time of day; false when it refuses the clocks otherwise, as a sandbox may
// where the clock source has no fast path and the system call is denied.
bool ChooseTickClock(ClockId& clock) {
#ifdef CLOCK_MONOTONIC_RAW
    if (ClockAnswers(CLOCK_MONOTONIC_RAW)) {
        clock = CLOCK_MONOTONIC_RAW;
        return true;
    }
#endif
    if (ClockAnswers(CLOCK_MONOTONIC)) {
        clock = CLOCK_MONOTONIC;
        return true;
    }
    if (errno == ENOSYS) {
        clock = kTimeOfDay;
        return true;
    }
    return false;
}

}  // namespace

// Asking the kernel for a clock is reading it, and the first reading of a clock in a process
// costs some microseconds: the page of the kernel's time data and the page of code that reads
// it are faulted in on that first use. Paid here, before the clock measurement reads the
// counter, that cost stays out of the interval it times. Each preparation starts the count
// afresh, so its next read is 0 and every one after that at least 1.
bool HardwarePrepareMillisecondTick() {
    TickState& state = State();
    state.counting = false;
    return ChooseTickClock(state.clock);
}

// The first read after preparation sets the origin and returns 0; the count's first step ends
// with it.
uint32_t HardwareMillisecondTick() {
    TickState& state = State();
    const uint64_t now = ClockNanoseconds(state.clock);
    if (!state.counting) {
        state.originNanoseconds = now;
        state.counting = true;
        return 0;
    }
    return MillisecondsSince(state.originNanoseconds, now) + 1u;
}

#endif
