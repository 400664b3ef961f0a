// The processor, reached with GCC's and Clang's x86 built-ins, for 32-bit and 64-bit code.
#include "probe/native_target.h"

#if CPUPROBE_TARGET_X86 && !CPUPROBE_TARGET_INTRIN_H

#include <cpuid.h>
#include <x86intrin.h>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "probe/hardware.h"
#include "probe/id_bit.h"

// Reads the flags register, writes it back with the ID bit inverted and reads it again
// (PUSHF/POPF, 32 or 64 bits wide). The original flags are put back afterwards.
bool HardwareIdBitCanChange() {
    const auto original = __readeflags();
    __writeeflags(original ^ static_cast<decltype(__readeflags())>(kFlagsIdBit));
    const auto changed = __readeflags();
    __writeeflags(original);
    return IdBitChanged(original, changed);
}

// ECX is set to 0 as well: the probe's leaves ignore it, and a leaf that takes a sub-leaf then
// answers its first one rather than whatever ECX held, which keeps cpuprobe-dump's records
// the same from run to run.
CpuidRegisters HardwareCpuid(uint32_t leaf) {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid_count(leaf, 0, eax, ebx, ecx, edx);
    return {eax, ebx, ecx, edx};
}

// Linux lets a process forbid itself RDTSC, and the setting is inherited across exec. A kernel
// that does not know the request leaves the counter readable.
bool HardwareTimeStampCounterReadable() {
#if defined(__linux__) && defined(PR_GET_TSC)
    int state = PR_TSC_ENABLE;
    return prctl(PR_GET_TSC, &state, 0, 0, 0) != 0 || state != PR_TSC_SIGSEGV;
#else
    return true;
#endif
}

uint64_t HardwareTimeStampCounter() { return __rdtsc(); }

#endif
