// The processor, reached with GCC's and Clang's x86 built-ins, for 32-bit and 64-bit code.
#include "probe/native_target.h"

#if CPUPROBE_TARGET_X86 && !CPUPROBE_TARGET_INTRIN_H

#include <cpuid.h>
#include <x86intrin.h>  // __rdtsc

#if CPUPROBE_TARGET_LINUX
#include <sys/prctl.h>
#endif

#include "probe/hardware.h"

// ECX is set to 0 as well: the probe's leaves ignore it, and a leaf that takes a sub-leaf then
// answers its first one rather than whatever ECX happened to hold, so a leaf asked the same
// way every run gives the same answer.
CpuidRegisters HardwareCpuid(uint32_t leaf) {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid_count(leaf, 0, eax, ebx, ecx, edx);
    return {eax, ebx, ecx, edx};
}

// Linux lets a process forbid itself RDTSC, and the setting is inherited across exec. A kernel
// that does not know the request leaves the counter readable.
bool HardwareTimeStampCounterReadable() {
#if CPUPROBE_TARGET_LINUX && defined(PR_GET_TSC)
    int state = PR_TSC_ENABLE;
    return prctl(PR_GET_TSC, &state, 0, 0, 0) != 0 || state != PR_TSC_SIGSEGV;
#else
    return true;
#endif
}

uint64_t HardwareTimeStampCounter() { return __rdtsc(); }

#endif
