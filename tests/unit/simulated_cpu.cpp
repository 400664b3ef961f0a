#include "tests/unit/simulated_cpu.h"

#include <gtest/gtest.h>

#include <cstddef>

#include "probe/hardware.h"
#include "sim/simulated_processor.h"

namespace {

constexpr uint32_t kFirstNameLeaf = 0x80000002;
constexpr std::size_t kNameBytes = 48;

uint32_t LittleEndianWord(const std::string& bytes, std::size_t at) {
    uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        word |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return word;
}

std::string AllBytes(const char* text, std::size_t size) { return std::string(text, size); }

}  // namespace

void StartSimulation(const Scenario& scenario) {
    TheCpuInfo = CpuInfo{};
    SimulateProcessor(scenario);
}

void AddNameLeaves(const std::string& nameBytes, Scenario& scenario) {
    ASSERT_EQ(nameBytes.size(), kNameBytes);
    for (uint32_t part = 0; part < 3; ++part) {
        const std::size_t at = std::size_t{16} * part;
        scenario.leaves[kFirstNameLeaf + part] = {
            LittleEndianWord(nameBytes, at), LittleEndianWord(nameBytes, at + 4),
            LittleEndianWord(nameBytes, at + 8), LittleEndianWord(nameBytes, at + 12)};
    }
}

bool TickWasRead(const Scenario& scenario) {
    // The first read returns the start tick; any later one has moved on, since a scenario's
    // tick step always moves the 32-bit count.
    return HardwareMillisecondTick() != static_cast<uint32_t>(scenario.tickStart);
}

void ExpectSameRecord(const CpuInfo& expected, const CpuInfo& actual) {
    EXPECT_EQ(expected.CPUIDMax, actual.CPUIDMax) << "CPUIDMax";
    EXPECT_EQ(expected.CPUIDExtMax, actual.CPUIDExtMax) << "CPUIDExtMax";
    EXPECT_EQ(AllBytes(expected.VenderID, sizeof expected.VenderID),
              AllBytes(actual.VenderID, sizeof actual.VenderID))
        << "VenderID";
    EXPECT_EQ(AllBytes(expected.CpuName, sizeof expected.CpuName),
              AllBytes(actual.CpuName, sizeof actual.CpuName))
        << "CpuName";
    EXPECT_EQ(expected.TypeID, actual.TypeID) << "TypeID";
    EXPECT_EQ(expected.FamilyID, actual.FamilyID) << "FamilyID";
    EXPECT_EQ(expected.ModelID, actual.ModelID) << "ModelID";
    EXPECT_EQ(expected.SteppingID, actual.SteppingID) << "SteppingID";
    EXPECT_EQ(expected.CPUID, actual.CPUID) << "CPUID";
    EXPECT_EQ(expected.FPU, actual.FPU) << "FPU";
    EXPECT_EQ(expected.TSC, actual.TSC) << "TSC";
    EXPECT_EQ(expected.MSR, actual.MSR) << "MSR";
    EXPECT_EQ(expected.CMOV, actual.CMOV) << "CMOV";
    EXPECT_EQ(expected.MMX, actual.MMX) << "MMX";
    EXPECT_EQ(expected.ThreeDNow, actual.ThreeDNow) << "ThreeDNow";
    EXPECT_EQ(expected.SSE_INT, actual.SSE_INT) << "SSE_INT";
    EXPECT_EQ(expected.SSE_FP, actual.SSE_FP) << "SSE_FP";
    EXPECT_EQ(expected.ThreeDNowExt, actual.ThreeDNowExt) << "ThreeDNowExt";
    EXPECT_EQ(expected.CpuClock, actual.CpuClock) << "CpuClock";
}
