// cpuprobe-dump: prints the raw CPUID answers of the processor it runs on, in the form of
// `cpuid -r -1`, so that the answers of any processor, real or emulated, can be replayed through
// cpuprobe-sim and its report compared with the tool's own.
//
// It asks every standard leaf from 0 up to the highest one leaf 0 reports, then leaf 0x80000000
// and every extended leaf up to the highest one that leaf reports. Leaf 0x80000000 is always
// printed: a processor without extended leaves answers it with some unrelated value, which the
// tool stores as it is. The hardware door asks every leaf with sub-leaf 0, so a leaf that takes
// a sub-leaf (4, 7, 0xB, 0xD) is recorded with its first one, the same from run to run, and the
// sub-leaf prints as 0; a dump therefore never differs between two runs on one processor.
// A processor whose ID bit cannot be changed has no CPUID at all; the dump then says so with
// the simulated processor's @no-cpuid directive.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "probe/hardware.h"

namespace {

constexpr uint32_t kStandardBase = 0x0;
constexpr uint32_t kExtendedBase = 0x80000000;

// No processor has more than a few dozen leaves in a range; a larger maximum is garbage and
// is cut here rather than asked for billions of times.
constexpr uint32_t kMostLeavesAfterBase = 0xFF;

CpuidRegisters DumpLeaf(uint32_t leaf) {
    const CpuidRegisters answer = HardwareCpuid(leaf);
    std::printf("   0x%08" PRIx32 " 0x00: eax=0x%08" PRIx32 " ebx=0x%08" PRIx32 " ecx=0x%08" PRIx32
                " edx=0x%08" PRIx32 "\n",
                leaf, answer.eax, answer.ebx, answer.ecx, answer.edx);
    return answer;
}

// The base leaf of a range reports the highest leaf of that range in EAX. A value below the
// base means the range does not exist.
void DumpRange(uint32_t base) {
    const uint32_t highest = DumpLeaf(base).eax;
    if (highest <= base) {
        return;
    }
    const uint32_t leavesAfterBase = std::min(highest - base, kMostLeavesAfterBase);
    for (uint32_t offset = 1; offset <= leavesAfterBase; ++offset) {
        DumpLeaf(base + offset);
    }
}

}  // namespace

int main() {
    std::printf("CPU:\n");
    if (!HardwareIdBitCanChange()) {
        std::printf("@no-cpuid\n");
        return 0;
    }
    DumpRange(kStandardBase);
    DumpRange(kExtendedBase);
    return 0;
}
