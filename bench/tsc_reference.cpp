// tsc_reference: the time-stamp counter's rate measured independently of cpuprobe's method,
// as a yardstick for its half-second measurement.
//
//   tsc_reference [SECONDS]      (default 5; prints "TscMHz <rate> window_s <s> bracket_ns <n>")
//
// The counter is timed against CLOCK_MONOTONIC_RAW, the kernel's clock that time
// synchronisation does not slew, over a long window, so that both the clock's resolution and
// the uncertainty of pairing a counter read with a clock read shrink to parts per million.
//
// The counter is read through the tool's own hardware layer (HardwareTimeStampCounter from
// cpuprobe_native) rather than a separate __rdtsc: the yardstick then counts the same counter,
// read the same way, as the tool, and any difference between the two is the tool's timing
// alone, not a difference in how the counter is reached.
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "probe/hardware.h"

namespace {

constexpr double kDefaultWindowSeconds = 5.0;
constexpr uint64_t kNanosecondsPerSecond = 1000000000u;
// Counter reads bracketed by clock reads, of which the tightest bracket is kept: a preemption
// inside one attempt spoils only that attempt.
constexpr int kPairingAttempts = 64;

// One counter reading and the raw clock time at which it was taken (the middle of the
// clock reads around it), with the width of that bracket as its uncertainty.
struct PairedReading {
    uint64_t counter;
    uint64_t nanoseconds;
    uint64_t bracketNanoseconds;
};

uint64_t RawClockNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return static_cast<uint64_t>(now.tv_sec) * kNanosecondsPerSecond +
           static_cast<uint64_t>(now.tv_nsec);
}

PairedReading ReadPaired() {
    PairedReading best{0, 0, UINT64_MAX};
    for (int attempt = 0; attempt < kPairingAttempts; ++attempt) {
        const uint64_t before = RawClockNanoseconds();
        const uint64_t counter = HardwareTimeStampCounter();
        const uint64_t after = RawClockNanoseconds();
        if (after - before < best.bracketNanoseconds) {
            best = {counter, before + (after - before) / 2, after - before};
        }
    }
    return best;
}

// Sleeps until the raw clock has passed the deadline; sleeping is fine here, since the
// window's ends are timed by the clock, not by the sleep.
void SleepUntil(uint64_t deadlineNanoseconds) {
    while (RawClockNanoseconds() < deadlineNanoseconds) {
        const uint64_t remaining = deadlineNanoseconds - RawClockNanoseconds();
        timespec pause{};
        pause.tv_sec = static_cast<time_t>(remaining / kNanosecondsPerSecond);
        pause.tv_nsec = static_cast<long>(remaining % kNanosecondsPerSecond);
        nanosleep(&pause, nullptr);
    }
}

bool ParseWindowSeconds(int argc, char** argv, double& seconds) {
    seconds = kDefaultWindowSeconds;
    if (argc < 2) {
        return true;
    }
    char* end = nullptr;
    errno = 0;
    seconds = std::strtod(argv[1], &end);
    return errno == 0 && end != argv[1] && *end == '\0' && seconds >= 0.01 && seconds <= 3600.0;
}

}  // namespace

int main(int argc, char** argv) {
    double windowSeconds = 0;
    if (!ParseWindowSeconds(argc, argv, windowSeconds)) {
        std::fprintf(stderr, "usage: tsc_reference [SECONDS]  (0.01 to 3600, default 5)\n");
        return 2;
    }
    const PairedReading start = ReadPaired();
    SleepUntil(start.nanoseconds + static_cast<uint64_t>(windowSeconds * 1e9));
    const PairedReading end = ReadPaired();

    const double elapsedNanoseconds = static_cast<double>(end.nanoseconds - start.nanoseconds);
    const double counts = static_cast<double>(end.counter - start.counter);
    // Counts per nanosecond times 1000 is millions of counts per second.
    const double megahertz = counts / elapsedNanoseconds * 1000.0;
    const uint64_t bracketNanoseconds = start.bracketNanoseconds + end.bracketNanoseconds;
    std::printf("TscMHz %.4f window_s %.3f bracket_ns %" PRIu64 "\n", megahertz,
                elapsedNanoseconds / 1e9, bracketNanoseconds);
    return 0;
}
