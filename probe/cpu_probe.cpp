// How a processor describes itself. CPUID takes a leaf in EAX and answers in EAX, EBX, ECX, EDX:
//
//   leaf 0           EAX the highest standard leaf; EBX, EDX, ECX the 12-byte vendor text
//   leaf 1           EAX the signature (stepping, model, family, type); EDX the base features
//   leaf 0x80000000  EAX the highest extended leaf (others answer whatever they answer)
//   leaf 0x80000001  EDX the extended features: 3DNow!, its extensions, and bit 22 (AMD's
//                    MMX extensions, the integer half of SSE)
//   0x80000002-4     the 48-byte processor name
//
// A leaf is asked only when the one before says it exists; the probe stops at the first that
// does not, leaving everything after it zero.
#include <stddef.h>

#include "probe/cpu_info.h"
#include "probe/hardware.h"

namespace {

constexpr uint32_t kVendorLeaf = 0x0;
constexpr uint32_t kSignatureLeaf = 0x1;
constexpr uint32_t kExtendedRangeLeaf = 0x80000000;
constexpr uint32_t kExtendedFeatureLeaf = 0x80000001;
constexpr uint32_t kFirstNameLeaf = 0x80000002;
constexpr uint32_t kLastNameLeaf = 0x80000004;

// Leaf 1 EAX, the processor signature.
constexpr int kSteppingShift = 0;
constexpr int kModelShift = 4;
constexpr int kFamilyShift = 8;
constexpr int kTypeShift = 12;
constexpr uint32_t kNibbleMask = 0xF;
constexpr uint32_t kTypeMask = 0x3;

struct FlagBit {
    int32_t CpuInfo::*field;
    uint32_t mask;
};

// Leaf 1 EDX. Bit 25 (SSE) fills both SSE flags.
constexpr FlagBit kStandardFeatureFlags[] = {
    {&CpuInfo::FPU, 1u << 0},     {&CpuInfo::TSC, 1u << 4},  {&CpuInfo::MSR, 1u << 5},
    {&CpuInfo::CMOV, 1u << 15},   {&CpuInfo::MMX, 1u << 23}, {&CpuInfo::SSE_INT, 1u << 25},
    {&CpuInfo::SSE_FP, 1u << 25},
};

// Leaf 0x80000001 EDX. Bit 22 replaces what leaf 1 gave SSE_INT.
constexpr FlagBit kExtendedFeatureFlags[] = {
    {&CpuInfo::SSE_INT, 1u << 22},
    {&CpuInfo::ThreeDNowExt, 1u << 30},
    {&CpuInfo::ThreeDNow, 1u << 31},
};

template <size_t N>
void StoreFlags(const FlagBit (&flags)[N], uint32_t reg, CpuInfo& info) {
    for (const FlagBit& flag : flags) {
        info.*flag.field = (reg & flag.mask) != 0 ? 1 : 0;
    }
}

// Writes a register's four bytes, lowest first, which is the order in which the processor
// spells its vendor and name texts.
char* StoreRegisterBytes(uint32_t reg, char* dest) {
    for (int byte = 0; byte < 4; ++byte) {
        *dest++ = static_cast<char>((reg >> (8 * byte)) & 0xFF);
    }
    return dest;
}

int32_t SignatureField(uint32_t eax, int shift, uint32_t mask) {
    return static_cast<int32_t>((eax >> shift) & mask);
}

void StoreVendor(const CpuidRegisters& leaf0, CpuInfo& info) {
    char* dest = info.VenderID;
    dest = StoreRegisterBytes(leaf0.ebx, dest);
    dest = StoreRegisterBytes(leaf0.edx, dest);
    dest = StoreRegisterBytes(leaf0.ecx, dest);
    *dest = '\0';
}

void StoreSignatureAndFeatures(const CpuidRegisters& leaf1, CpuInfo& info) {
    info.SteppingID = SignatureField(leaf1.eax, kSteppingShift, kNibbleMask);
    info.ModelID = SignatureField(leaf1.eax, kModelShift, kNibbleMask);
    info.FamilyID = SignatureField(leaf1.eax, kFamilyShift, kNibbleMask);
    info.TypeID = SignatureField(leaf1.eax, kTypeShift, kTypeMask);
    StoreFlags(kStandardFeatureFlags, leaf1.edx, info);
}

// Fills exactly the 48 name bytes; the terminating byte after them is left as it is (zero).
void StoreName(CpuInfo& info) {
    char* dest = info.CpuName;
    for (uint32_t leaf = kFirstNameLeaf; leaf <= kLastNameLeaf; ++leaf) {
        const CpuidRegisters part = HardwareCpuid(leaf);
        dest = StoreRegisterBytes(part.eax, dest);
        dest = StoreRegisterBytes(part.ebx, dest);
        dest = StoreRegisterBytes(part.ecx, dest);
        dest = StoreRegisterBytes(part.edx, dest);
    }
}

}  // namespace

void ProbeCpu() {
    CpuInfo& info = TheCpuInfo;
    if (!HardwareIdBitCanChange()) {
        return;
    }
    info.CPUID = 1;

    const CpuidRegisters leaf0 = HardwareCpuid(kVendorLeaf);
    info.CPUIDMax = leaf0.eax;
    StoreVendor(leaf0, info);
    if (info.CPUIDMax < kSignatureLeaf) {
        return;
    }

    StoreSignatureAndFeatures(HardwareCpuid(kSignatureLeaf), info);

    info.CPUIDExtMax = HardwareCpuid(kExtendedRangeLeaf).eax;
    if (info.CPUIDExtMax < kExtendedFeatureLeaf) {
        return;
    }
    StoreFlags(kExtendedFeatureFlags, HardwareCpuid(kExtendedFeatureLeaf).edx, info);

    if (info.CPUIDExtMax < kLastNameLeaf) {
        return;
    }
    StoreName(info);
}
