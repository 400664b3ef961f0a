// The processor, reached through <intrin.h>: Microsoft's compiler and MinGW, 32 or 64 bits.
#include "probe/native_target.h"

#if CPUPROBE_TARGET_X86 && CPUPROBE_TARGET_INTRIN_H

#include <intrin.h>

#include "probe/hardware.h"

// ECX is set to 0 as well (MinGW's __cpuid leaves it as it was): the probe's leaves ignore it,
// and a leaf that takes a sub-leaf then answers its first one rather than whatever ECX
// happened to hold, so a leaf asked the same way every run gives the same answer.
CpuidRegisters HardwareCpuid(uint32_t leaf) {
    int registers[4] = {0, 0, 0, 0};
    __cpuidex(registers, static_cast<int>(leaf), 0);
    return {static_cast<uint32_t>(registers[0]), static_cast<uint32_t>(registers[1]),
            static_cast<uint32_t>(registers[2]), static_cast<uint32_t>(registers[3])};
}

// Windows gives a program no way to forbid itself the counter.
bool HardwareTimeStampCounterReadable() { return true; }

uint64_t HardwareTimeStampCounter() { return __rdtsc(); }

#endif
