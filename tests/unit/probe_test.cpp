// ProbeCpu against simulated processors: where it stops, which bits it reads and how it
// copies the vendor and name texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "probe/cpu_info.h"
#include "sim/scenario.h"
#include "tests/unit/row_name.h"
#include "tests/unit/simulated_cpu.h"

namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFF;

// Leaf 1 EDX bits the probe reads, and leaf 0x80000001 EDX bits.
constexpr uint32_t kFpuBit = 1u << 0;
constexpr uint32_t kTscBit = 1u << 4;
constexpr uint32_t kMsrBit = 1u << 5;
constexpr uint32_t kCmovBit = 1u << 15;
constexpr uint32_t kMmxBit = 1u << 23;
constexpr uint32_t kSseBit = 1u << 25;
constexpr uint32_t kStandardBits = kFpuBit | kTscBit | kMsrBit | kCmovBit | kMmxBit | kSseBit;
constexpr uint32_t kMmxExtBit = 1u << 22;
constexpr uint32_t kThreeDNowExtBit = 1u << 30;
constexpr uint32_t kThreeDNowBit = 1u << 31;
constexpr uint32_t kExtendedBits = kMmxExtBit | kThreeDNowExtBit | kThreeDNowBit;

std::string PaddedName(const std::string& text) {
    std::string bytes = text;
    bytes.resize(48, '\0');
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// Stopping points. One processor that answers every leaf; the table varies only what leaf 0
// and leaf 0x80000000 claim, and the record must hold exactly what the probe may ask for.

enum class Stage { kNothing, kVendor, kSignature, kExtendedFlags, kName };

constexpr uint32_t kStopSignature = 0x00002F4A;  // type 2, family 15, model 4, stepping 10
constexpr uint32_t kStopStandardEdx = kFpuBit | kTscBit | kCmovBit | kSseBit;
// Without bit 22, so SSE_INT changes from 1 to 0 exactly when this leaf is read.
constexpr uint32_t kStopExtendedEdx = kThreeDNowBit | kThreeDNowExtBit;
const char kStopName[] = "AMD Athlon(tm) 64 Processor 3200+";

struct StopCase {
    const char* name;
    bool idBitCanChange;
    uint32_t highestLeaf;
    uint32_t highestExtendedLeaf;
    Stage expectedStage;
};

Scenario StopScenario(const StopCase& row) {
    Scenario scenario;
    scenario.idBitCanChange = row.idBitCanChange;
    scenario.leaves[0x0] = {row.highestLeaf, kAuthenticAmdEbx, kAuthenticAmdEcx, kAuthenticAmdEdx};
    scenario.leaves[0x1] = {kStopSignature, 0, 0, kStopStandardEdx};
    scenario.leaves[0x80000000] = {row.highestExtendedLeaf, 0, 0, 0};
    scenario.leaves[0x80000001] = {0, 0, 0, kStopExtendedEdx};
    AddNameLeaves(PaddedName(kStopName), scenario);
    return scenario;
}

CpuInfo ExpectedAtStage(const StopCase& row) {
    CpuInfo expected{};
    if (row.expectedStage == Stage::kNothing) {
        return expected;
    }
    expected.CPUID = 1;
    expected.CPUIDMax = row.highestLeaf;
    std::memcpy(expected.VenderID, "AuthenticAMD", 12);
    if (row.expectedStage == Stage::kVendor) {
        return expected;
    }
    expected.TypeID = 2;
    expected.FamilyID = 15;
    expected.ModelID = 4;
    expected.SteppingID = 10;
    expected.FPU = 1;
    expected.TSC = 1;
    expected.CMOV = 1;
    expected.SSE_INT = 1;
    expected.SSE_FP = 1;
    expected.CPUIDExtMax = row.highestExtendedLeaf;
    if (row.expectedStage == Stage::kSignature) {
        return expected;
    }
    expected.ThreeDNow = 1;
    expected.ThreeDNowExt = 1;
    expected.SSE_INT = 0;
    if (row.expectedStage == Stage::kExtendedFlags) {
        return expected;
    }
    std::memcpy(expected.CpuName, kStopName, sizeof kStopName);
    return expected;
}

class ProbeStops : public ::testing::TestWithParam<StopCase> {};

TEST_P(ProbeStops, FillsExactlyWhatTheAnswersAllow) {
    const StopCase& row = GetParam();
    const Scenario scenario = StopScenario(row);
    StartSimulation(scenario);
    ProbeCpu();
    CpuInfo expected = ExpectedAtStage(row);
    ExpectSameRecord(expected, TheCpuInfo);

    // The clock is measured in every state that has a time-stamp counter, and only there.
    MeasureCpuClock();
    expected.CpuClock = expected.TSC == 1 ? 1000.0f : 0.0f;
    ExpectSameRecord(expected, TheCpuInfo);
    EXPECT_EQ(TickWasRead(scenario), expected.TSC == 1);
}

// The comparisons are unsigned: a signed one would take 0xFFFFFFFF as -1 and 0x7FFFFFFF as
// above 0x80000001.
const StopCase kStopCases[] = {
    {"NoCpuid", false, 1, 0x80000004, Stage::kNothing},
    {"HighestLeafZeroDespiteExtendedLeaves", true, 0, 0x80000008, Stage::kVendor},
    {"ExtendedAnswerZero", true, 1, 0, Stage::kSignature},
    {"ExtendedAnswerTwo", true, 1, 2, Stage::kSignature},
    {"ExtendedAnswerOwnLeafNumber", true, 1, 0x80000000, Stage::kSignature},
    {"ExtendedAnswer7FFFFFFF", true, 1, 0x7FFFFFFF, Stage::kSignature},
    {"ExtendedMax80000001", true, 1, 0x80000001, Stage::kExtendedFlags},
    {"ExtendedMax80000002", true, 1, 0x80000002, Stage::kExtendedFlags},
    {"ExtendedMax80000003", true, 1, 0x80000003, Stage::kExtendedFlags},
    {"ExtendedMax80000004", true, 1, 0x80000004, Stage::kName},
    {"ExtendedMax80000008", true, 1, 0x80000008, Stage::kName},
    {"ExtendedMaxFFFFFFFF", true, 1, kAllOnes, Stage::kName},
    {"HighestLeafTwo", true, 2, 0x80000004, Stage::kName},
    {"HighestLeaf80000000", true, 0x80000000, 0x80000001, Stage::kExtendedFlags},
    {"HighestLeafFFFFFFFF", true, kAllOnes, 0x80000004, Stage::kName},
};

INSTANTIATE_TEST_SUITE_P(Table, ProbeStops, ::testing::ValuesIn(kStopCases), RowName());

TEST(Probe, LeavesTheClockAlone) {
    Scenario scenario;
    scenario.leaves[0x0] = {1, kAuthenticAmdEbx, kAuthenticAmdEcx, kAuthenticAmdEdx};
    scenario.leaves[0x1] = {0, 0, 0, kTscBit};
    StartSimulation(scenario);
    TheCpuInfo.CpuClock = 123.5f;
    ProbeCpu();
    EXPECT_EQ(TheCpuInfo.CpuClock, 123.5f);
    EXPECT_FALSE(TickWasRead(scenario));
}

// ---------------------------------------------------------------------------------------------
// Feature flags. The registers the probe must not read are all ones, so reading the wrong
// register, or the wrong bit, shows.

struct FlagField {
    const char* label;
    int32_t CpuInfo::*field;
};

const FlagField kFlagFields[] = {
    {"FPU", &CpuInfo::FPU},
    {"TSC", &CpuInfo::TSC},
    {"MSR", &CpuInfo::MSR},
    {"CMOV", &CpuInfo::CMOV},
    {"MMX", &CpuInfo::MMX},
    {"ThreeDNow", &CpuInfo::ThreeDNow},
    {"SSE_INT", &CpuInfo::SSE_INT},
    {"SSE_FP", &CpuInfo::SSE_FP},
    {"ThreeDNowExt", &CpuInfo::ThreeDNowExt},
};

struct FlagCase {
    const char* name;
    uint32_t standardEdx;
    bool hasExtendedFlags;  // leaf 0x80000000 answers 0x80000001, else 0
    uint32_t extendedEdx;
    std::vector<std::string> setFlags;  // every other flag must be 0
};

class ProbeFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(ProbeFlags, SetsExactlyTheFlagsOfTheirBits) {
    const FlagCase& row = GetParam();
    Scenario scenario;
    scenario.leaves[0x0] = {1, kAuthenticAmdEbx, kAuthenticAmdEcx, kAuthenticAmdEdx};
    scenario.leaves[0x1] = {0, kAllOnes, kAllOnes, row.standardEdx};
    scenario.leaves[0x80000000] = {row.hasExtendedFlags ? 0x80000001 : 0, kAllOnes, kAllOnes,
                                   kAllOnes};
    scenario.leaves[0x80000001] = {kAllOnes, kAllOnes, kAllOnes, row.extendedEdx};
    StartSimulation(scenario);
    ProbeCpu();
    for (const FlagField& flag : kFlagFields) {
        const bool expectedSet =
            std::find(row.setFlags.begin(), row.setFlags.end(), flag.label) != row.setFlags.end();
        EXPECT_EQ(TheCpuInfo.*flag.field, expectedSet ? 1 : 0) << flag.label;
    }
}

const FlagCase kFlagCases[] = {
    {"Bit0Fpu", kFpuBit, false, 0, {"FPU"}},
    {"Bit4Tsc", kTscBit, false, 0, {"TSC"}},
    {"Bit5Msr", kMsrBit, false, 0, {"MSR"}},
    {"Bit15Cmov", kCmovBit, false, 0, {"CMOV"}},
    {"Bit23Mmx", kMmxBit, false, 0, {"MMX"}},
    {"Bit25SetsBothSse", kSseBit, false, 0, {"SSE_INT", "SSE_FP"}},
    {"AllStandardBits",
     kAllOnes,
     false,
     0,
     {"FPU", "TSC", "MSR", "CMOV", "MMX", "SSE_INT", "SSE_FP"}},
    {"StandardBitsNotRead", ~kStandardBits, false, kAllOnes, {}},
    {"ExtendedBit31ThreeDNow", 0, true, kThreeDNowBit, {"ThreeDNow"}},
    {"ExtendedBit30ThreeDNowExt", 0, true, kThreeDNowExtBit, {"ThreeDNowExt"}},
    {"ExtendedBit22SseInt", 0, true, kMmxExtBit, {"SSE_INT"}},
    {"ExtendedBitsNotRead", 0, true, ~kExtendedBits, {}},
    {"AllExtendedBits", 0, true, kAllOnes, {"ThreeDNow", "ThreeDNowExt", "SSE_INT"}},
    // Bit 22 replaces what leaf 1 gave SSE_INT; the two are never combined.
    {"SseWithoutBit22", kSseBit, true, 0, {"SSE_FP"}},
    {"Bit22WithoutSse", 0, true, kMmxExtBit, {"SSE_INT"}},
    {"SseAndBit22", kSseBit, true, kMmxExtBit, {"SSE_INT", "SSE_FP"}},
    {"SseWithoutExtendedLeaf", kSseBit, false, kMmxExtBit, {"SSE_INT", "SSE_FP"}},
};

INSTANTIATE_TEST_SUITE_P(Table, ProbeFlags, ::testing::ValuesIn(kFlagCases), RowName());

// ---------------------------------------------------------------------------------------------
// The signature: the plain 4-bit fields and the 2-bit type, whatever else EAX holds.

struct SignatureCase {
    const char* name;
    uint32_t eax;
    int32_t type;
    int32_t family;
    int32_t model;
    int32_t stepping;
};

class ProbeSignature : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(ProbeSignature, KeepsTheBaseFields) {
    const SignatureCase& row = GetParam();
    Scenario scenario;
    scenario.leaves[0x0] = {1, kAuthenticAmdEbx, kAuthenticAmdEcx, kAuthenticAmdEdx};
    scenario.leaves[0x1] = {row.eax, kAllOnes, kAllOnes, kAllOnes};
    StartSimulation(scenario);
    ProbeCpu();
    EXPECT_EQ(TheCpuInfo.TypeID, row.type);
    EXPECT_EQ(TheCpuInfo.FamilyID, row.family);
    EXPECT_EQ(TheCpuInfo.ModelID, row.model);
    EXPECT_EQ(TheCpuInfo.SteppingID, row.stepping);
}

const SignatureCase kSignatureCases[] = {
    {"PentiumMmx", 0x00000543, 0, 5, 4, 3},
    {"OverdriveType1", 0x00001632, 1, 6, 3, 2},
    {"SecondProcessorType2", 0x00002F4A, 2, 15, 4, 10},
    {"ReservedType3", 0x00003000, 3, 0, 0, 0},
    {"ExtendedModelHaswell", 0x000306C3, 0, 6, 12, 3},
    {"ExtendedFamilyZen4", 0x00A60F12, 0, 15, 1, 2},
    {"ExtendedBitsAllSet", 0x0FFF0000, 0, 0, 0, 0},
    {"BitsAboveTypeSet", 0xF000C000, 0, 0, 0, 0},
    {"AllOnes", kAllOnes, 3, 15, 15, 15},
};

INSTANTIATE_TEST_SUITE_P(Table, ProbeSignature, ::testing::ValuesIn(kSignatureCases), RowName());

// ---------------------------------------------------------------------------------------------
// The vendor text: EBX, EDX, ECX, each lowest byte first, then a zero byte.

struct VendorCase {
    const char* name;
    uint32_t ebx;
    uint32_t edx;
    uint32_t ecx;
    const char* text;
};

class ProbeVendor : public ::testing::TestWithParam<VendorCase> {};

TEST_P(ProbeVendor, StoresTwelveBytesInRegisterOrder) {
    const VendorCase& row = GetParam();
    Scenario scenario;
    scenario.leaves[0x0] = {0, row.ebx, row.ecx, row.edx};
    StartSimulation(scenario);
    std::memset(TheCpuInfo.VenderID, 'X', sizeof TheCpuInfo.VenderID);
    ProbeCpu();
    EXPECT_EQ(std::string(TheCpuInfo.VenderID, sizeof TheCpuInfo.VenderID),
              std::string(row.text, 12) + '\0');
}

const VendorCase kVendorCases[] = {
    {"GenuineIntel", 0x756E6547, 0x49656E69, 0x6C65746E, "GenuineIntel"},
    {"RegisterAndByteOrder", 0x44434241, 0x48474645, 0x4C4B4A49, "ABCDEFGHIJKL"},
    {"InnerBlanks", 0x756E6547, 0x20656E69, 0x43445220, "Genuine  RDC"},
    {"ZeroBytesKept", 0x00000041, 0x00420000, 0x43000000, "A\0\0\0\0\0B\0\0\0\0C"},
};

INSTANTIATE_TEST_SUITE_P(Table, ProbeVendor, ::testing::ValuesIn(kVendorCases), RowName());

// ---------------------------------------------------------------------------------------------
// The name: 48 bytes exactly as the processor gives them; what prints is up to the first zero.

Scenario NameScenario() {
    Scenario scenario;
    scenario.leaves[0x0] = {1, kAuthenticAmdEbx, kAuthenticAmdEcx, kAuthenticAmdEdx};
    scenario.leaves[0x80000000] = {0x80000004, 0, 0, 0};
    return scenario;
}

TEST(ProbeName, TakesEaxEbxEcxEdxLowestByteFirst) {
    Scenario scenario = NameScenario();
    scenario.leaves[0x80000002] = {0x20444D41, 0x30352D43, 0x6F725020, 0x73736563};
    scenario.leaves[0x80000003] = {0x0000726F, 0, 0, 0};
    StartSimulation(scenario);
    ProbeCpu();
    EXPECT_EQ(std::string(TheCpuInfo.CpuName, sizeof TheCpuInfo.CpuName),
              PaddedName("AMD C-50 Processor") + '\0');
}

TEST(ProbeName, WritesExactlyTheFortyEightNameBytes) {
    Scenario scenario = NameScenario();
    AddNameLeaves(std::string(48, 'n'), scenario);
    StartSimulation(scenario);
    TheCpuInfo.CpuName[48] = 'X';
    ProbeCpu();
    EXPECT_EQ(std::string(TheCpuInfo.CpuName, sizeof TheCpuInfo.CpuName),
              std::string(48, 'n') + 'X');
}

struct NameCase {
    const char* name;
    std::string bytes;  // the 48 bytes the processor gives
    std::string printed;
};

class ProbeNameText : public ::testing::TestWithParam<NameCase> {};

TEST_P(ProbeNameText, StoresTheBytesUnchanged) {
    const NameCase& row = GetParam();
    Scenario scenario = NameScenario();
    AddNameLeaves(row.bytes, scenario);
    StartSimulation(scenario);
    ProbeCpu();
    EXPECT_EQ(std::string(TheCpuInfo.CpuName, 48), row.bytes);
    EXPECT_EQ(TheCpuInfo.CpuName[48], '\0');
    EXPECT_EQ(std::string(TheCpuInfo.CpuName), row.printed);
}

const std::string kFortyEightCharacters = "Intel(R) Xeon(R) Platinum 8380 CPU @ 2.30GHz ABC";

const NameCase kNameCases[] = {
    {"LeadingBlanksKept", PaddedName("              Intel(R) Pentium(R) 4 CPU 2.80GHz"),
     "              Intel(R) Pentium(R) 4 CPU 2.80GHz"},
    {"ZeroByteInTheMiddleEndsThePrintedText",
     PaddedName(std::string("AMD Athlon\0garbage after the end", 32)), "AMD Athlon"},
    {"ZeroFirstByteIsEmpty", PaddedName(std::string("\0Pentium", 8)), ""},
    {"AllFortyEightBytesNonZero", kFortyEightCharacters, kFortyEightCharacters},
    {"NameLeavesAnswerZeros", std::string(48, '\0'), ""},
};

INSTANTIATE_TEST_SUITE_P(Table, ProbeNameText, ::testing::ValuesIn(kNameCases), RowName());

}  // namespace
