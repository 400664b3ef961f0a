// Fuzzes the probe and the clock measurement: the input bytes become a simulated processor
// (its answers to the leaves the probe asks for, whether its ID bit moves, and its tick count
// and time-stamp counter), the record is filled from it, and every invariant of the record is
// checked. A broken invariant aborts, which the fuzzer reports as a crash.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/probe_oracle.h"
#include "probe/cpu_info.h"
#include "report/one_decimal.h"
#include "sim/simulated_processor.h"

namespace {

constexpr uint32_t kAskedLeaves[] = {0x0,        0x1,        0x80000000, 0x80000001,
                                     0x80000002, 0x80000003, 0x80000004};
constexpr std::size_t kVenderIdLength = 12;
constexpr std::size_t kCpuNameLength = 48;

// Reads the input front to back; past its end every value is zero.
struct ByteReader {
    const uint8_t* data;
    std::size_t size;

    uint64_t Take(std::size_t bytes) {
        uint64_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i) {
            const uint64_t byte = size > 0 ? *data : 0;
            if (size > 0) {
                ++data;
                --size;
            }
            value |= byte << (8 * i);
        }
        return value;
    }
    uint32_t Take32() { return static_cast<uint32_t>(Take(4)); }
    uint64_t Take64() { return Take(8); }
};

void Require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "broken invariant: %s\n", what);
        std::abort();
    }
}

// Input layout: a control byte (bit 0: the ID bit is fixed), a byte whose bits 0-6 say which
// of kAskedLeaves the processor answers, four registers for each of those leaves, then the
// tick start and step and the counter start and rate, 64 bits each.
bool ReadScenario(ByteReader& in, Scenario& scenario) {
    const uint64_t control = in.Take(1);
    const uint64_t answered = in.Take(1);
    scenario.idBitCanChange = (control & 1) == 0;
    for (std::size_t i = 0; i < sizeof kAskedLeaves / sizeof kAskedLeaves[0]; ++i) {
        const CpuidRegisters regs{in.Take32(), in.Take32(), in.Take32(), in.Take32()};
        if (((answered >> i) & 1) != 0) {
            scenario.leaves[kAskedLeaves[i]] = regs;
        }
    }
    scenario.tickStart = in.Take64();
    scenario.tickStep = in.Take64();
    scenario.tscStart = in.Take64();
    scenario.tscPerMs = in.Take64();
    // A step that leaves the 32-bit tick count where it was would never end the wait; the
    // scenario reader refuses it, so no processor the tool can be given has one.
    return static_cast<uint32_t>(scenario.tickStep) != 0;
}

uint32_t FloatBits(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool IsFlag(int32_t value) { return value == 0 || value == 1; }

bool AllZero(const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

void CheckRanges(const CpuInfo& info) {
    Require(info.FamilyID >= 0 && info.FamilyID <= 15, "FamilyID in 0..15");
    Require(info.ModelID >= 0 && info.ModelID <= 15, "ModelID in 0..15");
    Require(info.SteppingID >= 0 && info.SteppingID <= 15, "SteppingID in 0..15");
    Require(info.TypeID >= 0 && info.TypeID <= 3, "TypeID in 0..3");
    const int32_t flags[] = {info.CPUID,  info.FPU,         info.TSC,       info.MSR,
                             info.CMOV,   info.MMX,         info.ThreeDNow, info.SSE_INT,
                             info.SSE_FP, info.ThreeDNowExt};
    for (const int32_t flag : flags) {
        Require(IsFlag(flag), "every flag 0 or 1");
    }
    Require(info.VenderID[kVenderIdLength] == 0, "VenderID terminated at byte 12");
    Require(info.CpuName[kCpuNameLength] == 0, "CpuName terminated at byte 48");
}

// Everything past the stage the probe reached keeps its zero.
void CheckStoppingPoint(const CpuInfo& info, ProbeStage stage) {
    if (stage < ProbeStage::kVendor) {
        Require(
            info.CPUID == 0 && info.CPUIDMax == 0 && AllZero(info.VenderID, sizeof info.VenderID),
            "no CPUID: CPUID, CPUIDMax and VenderID zero");
    } else {
        Require(info.CPUID == 1, "CPUID 1 once the ID bit moves");
    }
    if (stage < ProbeStage::kStandard) {
        const int32_t standard[] = {info.TypeID, info.FamilyID, info.ModelID, info.SteppingID,
                                    info.FPU,    info.TSC,      info.MSR,     info.CMOV,
                                    info.MMX,    info.SSE_INT,  info.SSE_FP};
        for (const int32_t field : standard) {
            Require(field == 0, "leaf 1 fields zero when leaf 1 is not asked for");
        }
        Require(info.CPUIDExtMax == 0, "CPUIDExtMax zero when leaf 1 is not asked for");
    }
    if (stage < ProbeStage::kExtendedFlags) {
        Require(info.ThreeDNow == 0 && info.ThreeDNowExt == 0,
                "extended flags zero without leaf 0x80000001");
    }
    if (stage < ProbeStage::kName) {
        Require(AllZero(info.CpuName, sizeof info.CpuName), "CpuName empty without its leaves");
    }
}

void CheckFormatted(float value) {
    char formatted[kOneDecimalTextSize];
    FormatOneDecimal(value, formatted);
    const std::string text = formatted;
    const std::size_t point = text.find('.');
    Require(point != std::string::npos && point + 2 == text.size(),
            "exactly one digit after the point");
    Require(text == ExactOneDecimal(value), "one decimal equals the exact rounding");
}

void CheckClock(const CpuInfo& info, const Scenario& scenario) {
    if (info.TSC == 0) {
        Require(info.CpuClock == 0.0f, "CpuClock 0 without a time-stamp counter");
    } else {
        const float expected = ExpectedClock(scenario);
        Require(FloatBits(info.CpuClock) == FloatBits(expected),
                "CpuClock is the counted cycles times 2e-6");
    }
    CheckFormatted(info.CpuClock);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    ByteReader in{data, size};
    Scenario scenario;
    if (!ReadScenario(in, scenario)) {
        return 0;
    }
    SimulateProcessor(scenario);
    TheCpuInfo = CpuInfo{};
    ProbeCpu();
    MeasureCpuClock();

    CheckRanges(TheCpuInfo);
    CheckStoppingPoint(TheCpuInfo, ReachedStage(scenario));
    CheckClock(TheCpuInfo, scenario);

    // The formatter takes any float, not only the rates a measurement gives: any 4 bytes left.
    const uint32_t bits = in.Take32();
    float any = 0;
    std::memcpy(&any, &bits, sizeof any);
    if (std::isfinite(any)) {
        CheckFormatted(any);
    }
    return 0;
}
