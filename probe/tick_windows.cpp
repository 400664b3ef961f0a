// The system's millisecond tick count from the multimedia timer, at the resolution the system
// already has (no timeBeginPeriod).
#include "probe/native_target.h"

#if CPUPROBE_TARGET_WINDOWS

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include "probe/hardware.h"

// timeGetTime cannot fail. One call here pays what a first call costs (the pages of the
// multimedia library's code faulted in) before the clock measurement reads the counter.
bool HardwarePrepareMillisecondTick() {
    (void)timeGetTime();
    return true;
}

uint32_t HardwareMillisecondTick() { return static_cast<uint32_t>(timeGetTime()); }

#endif
