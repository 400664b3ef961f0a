// Processors that answer with bytes that are not text, with no terminating zero, with zeros in
// the middle and with every register all ones. The record must keep each answer's bytes as
// they are, stop each text at its first zero, and the probe must write nothing outside its
// own fields; the report must carry the same bytes to stdout unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string>

#include "probe/cpu_info.h"
#include "sim/scenario.h"
#include "sim/simulated_processor.h"
#include "tests/support/process.h"

namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFF;

// One leaf line of a scenario file.
std::string Leaf(uint32_t leaf, uint32_t eax, uint32_t ebx, uint32_t ecx, uint32_t edx) {
    char line[80];
    std::snprintf(line, sizeof line, "CPUID %08X: %08X-%08X-%08X-%08X\n", leaf, eax, ebx, ecx, edx);
    return line;
}

std::string AllOnesLeaf(uint32_t leaf) {
    return Leaf(leaf, kAllOnes, kAllOnes, kAllOnes, kAllOnes);
}

// The bytes first..last, ascending.
std::string ByteRun(int first, int last) {
    std::string bytes;
    for (int byte = first; byte <= last; ++byte) {
        bytes += static_cast<char>(byte);
    }
    return bytes;
}

// A processor with leaf 1 all zero and the name leaves present: everything after the name
// line is zero.
const std::string kNamedProcessor =
    Leaf(0x0, 1, 0x756E6547, 0x6C65746E, 0x49656E69) + Leaf(0x80000000, 0x80000004, 0, 0, 0);

const char* const kVendorOnlyTail =
    "TypeID 0, FamilyID 0, ModelID 0, SteppingID 0\nCpuClock 0.0MHz\n\n"
    "CPUID       1\nCPUIDMax    0\nCPUIDExtMax 0\n"
    "FPU    0\nTSC    0\nMSR    0\nCMOV   0\nMMX    0\n3DNow! 0\n"
    "SSE_INT    0\nSSE_FP     0\n3DNow! Ext 0\nFCMOV      0\n";

const char* const kNamedTail =
    "TypeID 0, FamilyID 0, ModelID 0, SteppingID 0\nCpuClock 0.0MHz\n\n"
    "CPUID       1\nCPUIDMax    1\nCPUIDExtMax 80000004\n"
    "FPU    0\nTSC    0\nMSR    0\nCMOV   0\nMMX    0\n3DNow! 0\n"
    "SSE_INT    0\nSSE_FP     0\n3DNow! Ext 0\nFCMOV      0\n";

// Leaves 0 and 1 all ones; the highest extended leaf as printed, and the extended flags
// 3DNow!, SSE_INT and 3DNow! Ext as given, or SSE_INT from leaf 1 when not read.
std::string AllOnesTail(const char* extMax, const char* extendedFlag) {
    return std::string(
               "TypeID 3, FamilyID 15, ModelID 15, SteppingID 15\nCpuClock 1000.0MHz\n\n"
               "CPUID       1\nCPUIDMax    ffffffff\nCPUIDExtMax ") +
           extMax + "\nFPU    1\nTSC    1\nMSR    1\nCMOV   1\nMMX    1\n3DNow! " + extendedFlag +
           "\nSSE_INT    1\nSSE_FP     1\n3DNow! Ext " + extendedFlag + "\nFCMOV      1\n";
}

// Leaves 0 and 1 and 0x80000001-0x80000004 all ones, leaf 0x80000000 answering extMax.
std::string AllOnesBut80000000(uint32_t extMax) {
    return AllOnesLeaf(0x0) + AllOnesLeaf(0x1) + Leaf(0x80000000, extMax, kAllOnes, 0, 0) +
           AllOnesLeaf(0x80000001) + AllOnesLeaf(0x80000002) + AllOnesLeaf(0x80000003) +
           AllOnesLeaf(0x80000004);
}

struct HostileCase {
    const char* name;
    std::string scenario;
    std::string vendor;   // the vendor text up to its first zero
    std::string cpuName;  // the name text up to its first zero
    std::string tail;     // the report from its third line on
};

// Test names and failure messages show the case by its name.
std::string PrintName(const testing::TestParamInfo<HostileCase>& info) { return info.param.name; }
void PrintTo(const HostileCase& hostileCase, std::ostream* out) { *out << hostileCase.name; }

const HostileCase kHostileCases[] = {
    {"VendorControlBytes", Leaf(0x0, 0, 0x04030201, 0x0C0B0A09, 0x08070605), ByteRun(0x01, 0x0C),
     "", kVendorOnlyTail},
    {"VendorHighBytes", Leaf(0x0, 0, 0x9F81807F, 0x1B0D1FFF, 0xFEE0C0A0),
     "\x7F\x80\x81\x9F"
     "\xA0\xC0\xE0\xFE"
     "\xFF\x1F\x0D\x1B",
     "", kVendorOnlyTail},
    {"VendorZeroInTheMiddle", Leaf(0x0, 0, 0x00434241, 0x4C4B4A49, 0x48474645), "ABC", "",
     kVendorOnlyTail},
    {"VendorAllZero", Leaf(0x0, 0, 0, 0, 0), "", "", kVendorOnlyTail},
    {"NameWithoutAnyZero",
     kNamedProcessor + Leaf(0x80000002, 0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D) +
         Leaf(0x80000003, 0x14131211, 0x18171615, 0x1C1B1A19, 0x7F1F1E1D) +
         Leaf(0x80000004, 0x83828180, 0x87868584, 0x8B8A8988, 0x8F8E8D8C),
     "GenuineIntel", ByteRun(0x01, 0x1F) + ByteRun(0x7F, 0x8F), kNamedTail},
    {"NameZeroInTheMiddle",
     kNamedProcessor + Leaf(0x80000002, 0x20746F48, 0x00706948, 0x41414141, 0x41414141) +
         Leaf(0x80000003, kAllOnes, kAllOnes, kAllOnes, kAllOnes) +
         Leaf(0x80000004, kAllOnes, kAllOnes, kAllOnes, kAllOnes),
     "GenuineIntel", "Hot Hip", kNamedTail},
    {"NameStartingWithZero",
     kNamedProcessor + Leaf(0x80000002, 0x41414100, 0x41414141, 0x41414141, 0x41414141),
     "GenuineIntel", "", kNamedTail},
    {"EveryRegisterAllOnes", AllOnesBut80000000(kAllOnes), std::string(12, '\xFF'),
     std::string(48, '\xFF'), AllOnesTail("ffffffff", "1")},
    {"ExtendedMaxJustBelowName", AllOnesBut80000000(0x80000003), std::string(12, '\xFF'), "",
     AllOnesTail("80000003", "1")},
    {"ExtendedMax7FFFFFFF", AllOnesBut80000000(0x7FFFFFFF), std::string(12, '\xFF'), "",
     AllOnesTail("7fffffff", "0")},
    {"ExtendedMax2", AllOnesBut80000000(2), std::string(12, '\xFF'), "", AllOnesTail("2", "0")},
};

class HostileProcessor : public testing::TestWithParam<HostileCase> {
  protected:
    void SetUp() override {
        Scenario scenario;
        ASSERT_TRUE(ParseScenario(GetParam().scenario, scenario).ok);
        SimulateProcessor(scenario);
    }
};

TEST_P(HostileProcessor, TextsHoldTheBytesUpToTheirFirstZero) {
    TheCpuInfo = CpuInfo{};
    ProbeCpu();
    EXPECT_EQ(std::string(TheCpuInfo.VenderID), GetParam().vendor);
    EXPECT_EQ(std::string(TheCpuInfo.CpuName), GetParam().cpuName);
    EXPECT_EQ(TheCpuInfo.VenderID[12], '\0');
    EXPECT_EQ(TheCpuInfo.CpuName[48], '\0');
}

// The bytes ProbeCpu may write: the numbers before the texts, the vendor with its terminator,
// the 48 name bytes, and the numbers and flags up to CpuClock, which is the measurement's.
struct ByteSpan {
    std::size_t begin;
    std::size_t end;
};

const ByteSpan kProbeWrites[] = {
    {0, offsetof(CpuInfo, VenderID) + sizeof(CpuInfo::VenderID)},
    {offsetof(CpuInfo, CpuName), offsetof(CpuInfo, CpuName) + sizeof(CpuInfo::CpuName) - 1},
    {offsetof(CpuInfo, TypeID), offsetof(CpuInfo, CpuClock)},
};

bool ProbeMayWrite(std::size_t offset) {
    return std::any_of(
        std::begin(kProbeWrites), std::end(kProbeWrites),
        [offset](const ByteSpan& span) { return offset >= span.begin && offset < span.end; });
}

TEST_P(HostileProcessor, ProbeWritesNothingOutsideItsFields) {
    constexpr unsigned char kUntouched = 0xA5;
    // Bytes, not values: the float's pattern does not matter.
    // cppcheck-suppress memsetClassFloat
    std::memset(&TheCpuInfo, kUntouched, sizeof TheCpuInfo);
    ProbeCpu();
    const auto* bytes = reinterpret_cast<const unsigned char*>(&TheCpuInfo);
    for (std::size_t offset = 0; offset < sizeof TheCpuInfo; ++offset) {
        if (!ProbeMayWrite(offset)) {
            EXPECT_EQ(bytes[offset], kUntouched) << "record byte " << offset << " was written";
        }
    }
    // The vendor's terminator is the probe's own to write; the name's is the record's.
    EXPECT_EQ(TheCpuInfo.VenderID[12], '\0');
    TheCpuInfo = CpuInfo{};
}

TEST_P(HostileProcessor, ReportCarriesTheBytesUnchanged) {
    const std::string path = WriteTempFile(GetParam().name, GetParam().scenario);
    Command sim;
    sim.argv = {CPUPROBE_SIM_PATH};
    sim.environment[kScenarioVariable] = path;
    const ProcessResult run = RunProcess(sim, "\n");
    std::remove(path.c_str());
    EXPECT_EQ(run.out, "VenderID  " + GetParam().vendor + "\nCpuName   " + GetParam().cpuName +
                           "\n" + GetParam().tail);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.exit.exited);
}

INSTANTIATE_TEST_SUITE_P(Answers, HostileProcessor, testing::ValuesIn(kHostileCases), PrintName);

}  // namespace
