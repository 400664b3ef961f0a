// The test for the CPUID instruction on any x86 compiler: GCC and Clang declare the flags
// register built-ins in <x86intrin.h>, Microsoft's compiler and MinGW in <intrin.h>.
#include "probe/native_target.h"

#if CPUPROBE_TARGET_X86

#if CPUPROBE_TARGET_INTRIN_H
#include <intrin.h>
#else
#include <x86intrin.h>
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

#endif
