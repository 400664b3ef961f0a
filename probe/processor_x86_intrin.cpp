// The processor, reached through <intrin.h>: Microsoft's compiler and MinGW, 32 or 64 bits.
#include "probe/native_target.h"

#if CPUPROBE_TARGET_X86 && CPUPROBE_TARGET_INTRIN_H

#include <intrin.h>

#include "probe/hardware.h"

namespace {
constexpr unsigned int kIdBit = 0x200000;  // flags register bit 21
}  // namespace

// Reads the flags register, writes it back with the ID bit inverted and reads it again.
// The original flags are put back afterwards.
bool HardwareIdBitCanChange() {
    const auto original = __readeflags();
    __writeeflags(original ^ kIdBit);
    const auto changed = __readeflags();
    __writeeflags(original);
    return changed != original;
}

CpuidRegisters HardwareCpuid(uint32_t leaf) {
    int registers[4] = {0, 0, 0, 0};
    __cpuid(registers, static_cast<int>(leaf));
    return {static_cast<uint32_t>(registers[0]), static_cast<uint32_t>(registers[1]),
            static_cast<uint32_t>(registers[2]), static_cast<uint32_t>(registers[3])};
}

uint64_t HardwareTimeStampCounter() { return __rdtsc(); }

#endif
