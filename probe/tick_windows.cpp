// The system's millisecond tick count from the multimedia timer, at the resolution the system
// already has (no timeBeginPeriod).
#include "probe/native_target.h"

#if CPUPROBE_TARGET_WINDOWS

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include "probe/hardware.h"

uint32_t HardwareMillisecondTick() { return static_cast<uint32_t>(timeGetTime()); }

#endif
