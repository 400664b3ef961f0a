// The millisecond tick count from the monotonic clock, truncated to 32 bits so that it wraps
// from 0xFFFFFFFF to 0 as the Windows tick count does.
#include "probe/native_target.h"

#if !CPUPROBE_TARGET_WINDOWS

#include <ctime>

#include "probe/hardware.h"

uint32_t HardwareMillisecondTick() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t milliseconds =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(milliseconds);
}

#endif
