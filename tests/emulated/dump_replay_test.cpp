// cpuprobe-dump, linked against the simulated processor instead of the real one: what it prints
// for a processor must give that processor's report again when replayed through cpuprobe-sim,
// and a garbage highest leaf must not make it ask for billions of leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/emulated/replay.h"
#include "tests/sim/simulated_processor.h"
#include "tests/support/process.h"

namespace {

ProcessResult DumpScenarioFile(const std::string& scenarioPath) {
    Command command;
    command.argv = {CPUPROBE_DUMP_SIM_PATH};
    command.environment[kScenarioVariable] = scenarioPath;
    return RunProcess(command, "");
}

ProcessResult DumpScenario(const std::string& name, const std::string& scenario) {
    const std::string path = WriteTempFile(name + ".scenario", scenario);
    ProcessResult result = DumpScenarioFile(path);
    std::remove(path.c_str());
    return result;
}

long CountLinesStartingWith(const std::string& text, const std::string& prefix) {
    const std::vector<std::string> lines = ReportLines(text);
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.compare(0, prefix.size(), prefix) == 0;
    });
}

constexpr const char* kStandardLinePrefix = "   0x0";
constexpr const char* kExtendedLinePrefix = "   0x8";

struct RangeCase {
    const char* name;
    const char* scenario;
    long standardLeaves;
    long extendedLeaves;
};

// Leaf 0 and leaf 0x80000000 are always dumped, since the tool stores what they answer.
const RangeCase kRangeCases[] = {
    {"OnlyLeafZero", "CPUID 00000000: 00000000-756E6547-6C65746E-49656E69\n", 1, 1},
    {"NoExtendedRange",
     "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
     "CPUID 80000000: 00000683-00000000-00000000-00000000\n",
     3, 1},
    {"ExtendedRangeUpToName", "CPUID 80000000: 80000004-00000000-00000000-00000000\n", 1, 5},
    {"GarbageStandardMaximum", "CPUID 00000000: FFFFFFFF-00000000-00000000-00000000\n", 256, 1},
    {"GarbageExtendedMaximum", "CPUID 80000000: FFFFFFFF-00000000-00000000-00000000\n", 1, 256},
};

class DumpRanges : public testing::TestWithParam<RangeCase> {};

TEST_P(DumpRanges, AsksEachLeafOfEachRangeOnceWithinTheCap) {
    const RangeCase& range = GetParam();
    const ProcessResult dump = DumpScenario(range.name, range.scenario);
    ASSERT_TRUE(dump.exit.exited && dump.exit.status == 0) << dump.err;
    EXPECT_EQ(dump.out.rfind("CPU:\n", 0), 0u) << dump.out;
    EXPECT_EQ(CountLinesStartingWith(dump.out, kStandardLinePrefix), range.standardLeaves);
    EXPECT_EQ(CountLinesStartingWith(dump.out, kExtendedLinePrefix), range.extendedLeaves);
}

std::string RangeCaseName(const testing::TestParamInfo<RangeCase>& range) {
    return range.param.name;
}

INSTANTIATE_TEST_SUITE_P(Dumper, DumpRanges, testing::ValuesIn(kRangeCases), RangeCaseName);

TEST(Dumper, SaysSoWhenTheProcessorHasNoCpuid) {
    const ProcessResult dump = DumpScenario("no-cpuid", "@no-cpuid\n");
    EXPECT_EQ(dump.out, "CPU:\n@no-cpuid\n");
}

TEST(Dumper, WritesLeavesInTheRawCpuidForm) {
    const ProcessResult dump =
        DumpScenario("form", "CPUID 00000000: 00000000-756E6547-6C65746E-49656E69\n");
    EXPECT_EQ(ReportLines(dump.out).at(1),
              "   0x00000000 0x00: eax=0x00000000 ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69");
}

// Every recorded processor: dumped by cpuprobe-dump, replayed, it must print its report again.
TEST(Dumper, RecordedProcessorsGiveTheirReportsAgain) {
    namespace fs = std::filesystem;
    const fs::path dumps = CPUPROBE_PROCESSORS_PATH;
    if (!fs::is_directory(dumps)) {
        GTEST_SKIP() << "no recorded processors at " << dumps;
    }
    int replayed = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dumps)) {
        fs::path report = entry.path();
        report.replace_extension(".report");
        if (entry.path().extension() != ".txt" || !fs::exists(report)) {
            continue;
        }
        const std::string name = entry.path().stem().string();
        const ProcessResult dump = DumpScenarioFile(entry.path().string());
        const ProcessResult replay = ReplayDump(CPUPROBE_SIM_PATH, dump.out, name);
        EXPECT_EQ(replay.out, ReadWholeFile(report.string())) << entry.path() << replay.err;
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}

}  // namespace
