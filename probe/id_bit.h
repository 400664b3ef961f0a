// The test for the CPUID instruction: a processor that has it lets a program change bit 21
// (ID) of the flags register; on one without it the bit stays as it is.
#pragma once

#include <stdint.h>

constexpr uint64_t kFlagsIdBit = uint64_t{1} << 21;

// Only the ID bit is compared. Reading and writing the flags register are separate steps, and
// the compiler may place arithmetic between them, which changes the status flags (carry, zero,
// sign...) but never bit 21. Comparing the whole register would then take a processor without
// CPUID for one with it, and the first CPUID would fault.
constexpr bool IdBitChanged(uint64_t flagsBefore, uint64_t flagsAfter) {
    return ((flagsBefore ^ flagsAfter) & kFlagsIdBit) != 0;
}
