// The processor, reached with GCC's and Clang's x86 built-ins, for 32-bit and 64-bit code.
#include "probe/native_target.h"

#if CPUPROBE_TARGET_X86 && !CPUPROBE_TARGET_INTRIN_H

#include <cpuid.h>
#include <x86intrin.h>

#include "probe/hardware.h"

namespace {
constexpr unsigned long long kIdBit = 0x200000;  // flags register bit 21
}  // namespace

// Reads the flags register, writes it back with the ID bit inverted and reads it again
// (PUSHF/POPF, 32 or 64 bits wide). The original flags are put back afterwards.
bool HardwareIdBitCanChange() {
    const auto original = __readeflags();
    __writeeflags(original ^ kIdBit);
    const auto changed = __readeflags();
    __writeeflags(original);
    return changed != original;
}

CpuidRegisters HardwareCpuid(uint32_t leaf) {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(leaf, eax, ebx, ecx, edx);
    return {eax, ebx, ecx, edx};
}

uint64_t HardwareTimeStampCounter() { return __rdtsc(); }

#endif
