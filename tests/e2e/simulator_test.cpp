// cpuprobe-sim from end to end: each scenario in tests/scenarios gives exactly the report
// written beside it, and a scenario that cannot be used stops the simulator with one line.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/report_cases.h"
#include "tests/e2e/report_shape.h"
#include "tests/sim/simulated_processor.h"
#include "tests/support/process.h"

namespace {

const std::string kSimulatorPath = CPUPROBE_SIM_PATH;
const std::string kScenariosFolder = CPUPROBE_SCENARIOS_DIR;

class ScenarioFile : public testing::TestWithParam<ReportCase> {};

TEST_P(ScenarioFile, GivesItsReport) { ExpectSimulatorGivesReport(kSimulatorPath, GetParam()); }

// The expected reports are typed by hand: one with a wrong blank would make its test demand
// a wrong report.
TEST_P(ScenarioFile, ExpectedReportIsWellFormed) {
    EXPECT_TRUE(IsWellFormedReport(ReadWholeFile(GetParam().reportPath)));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ScenarioFile,
                         testing::ValuesIn(FindReportCases(kScenariosFolder, ".scenario")),
                         ReportCaseName);

// A report left without its scenario would never be checked.
TEST(ScenarioFolder, EveryReportHasItsScenario) {
    for (const ReportCase& report : FindReportCases(kScenariosFolder, ".report")) {
        std::filesystem::path scenario = report.inputPath;
        scenario.replace_extension(".scenario");
        EXPECT_TRUE(std::filesystem::is_regular_file(scenario)) << report.inputPath;
    }
}

struct UnusableScenario {
    std::string what;
    std::optional<std::string> path;    // the scenario variable's value; unset where missing
    std::vector<std::string> mentions;  // what the one line on stderr must name
    std::string tempFile;               // written for this case, removed after it
};

// A scenario file whose third line is the directive, after a leaf line and a comment.
UnusableScenario BadDirective(const std::string& fileName, const std::string& directive,
                              const std::string& name) {
    const std::string path = WriteTempFile(fileName,
                                           "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69\n"
                                           "# the next line is wrong\n" +
                                               directive + "\n@tsc-per-ms 5\n");
    return {"directive " + directive, path, {path + ":3:", name}, path};
}

std::vector<UnusableScenario> UnusableScenarios() {
    const std::string missing = testing::TempDir() + "no-such-scenario.scenario";
    std::filesystem::remove(missing);
    return {
        {"variable unset", std::nullopt, {kScenarioVariable}, ""},
        {"missing file", missing, {missing}, ""},
        {"a directory", kScenariosFolder, {kScenariosFolder}, ""},
        BadDirective("step-zero", "@tick-step 0", "@tick-step"),
        BadDirective("step-zero-in-32-bits", "@tick-step 0x100000000", "@tick-step"),
        BadDirective("no-number", "@tsc-per-ms", "@tsc-per-ms"),
        BadDirective("two-numbers", "@tsc-per-ms 1 2", "@tsc-per-ms"),
        BadDirective("negative", "@tick-start -1", "@tick-start"),
        BadDirective("trailing-letters", "@tsc-start 12abc", "@tsc-start"),
        BadDirective("decimal-past-64-bits", "@tsc-start 18446744073709551616", "@tsc-start"),
        BadDirective("hex-past-64-bits", "@tsc-per-ms 0x10000000000000000", "@tsc-per-ms"),
        BadDirective("no-cpuid-value", "@no-cpuid yes", "@no-cpuid"),
        BadDirective("tick-unreadable-value", "@tick-unreadable 1", "@tick-unreadable"),
        BadDirective("late-read-one-number", "@tick-late 500", "@tick-late"),
        BadDirective("unknown", "@tick-rate 5", "@tick-rate"),
    };
}

bool IsOneLine(const std::string& text) {
    return !text.empty() && text.find('\n') == text.size() - 1;
}

TEST(UnusableScenario, StopsWithOneLineNamingTheProblem) {
    for (const UnusableScenario& scenario : UnusableScenarios()) {
        SCOPED_TRACE(scenario.what);
        const ProcessResult result =
            RunSimulator(kSimulatorPath, scenario.path ? &*scenario.path : nullptr);
        EXPECT_TRUE(result.exit.exited);
        EXPECT_EQ(result.exit.status, kScenarioErrorStatus);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(IsOneLine(result.err)) << "stderr: \"" << result.err << "\"";
        for (const std::string& mention : scenario.mentions) {
            EXPECT_NE(result.err.find(mention), std::string::npos)
                << "\"" << result.err << "\" does not name " << mention;
        }
        if (!scenario.tempFile.empty()) {
            std::filesystem::remove(scenario.tempFile);
        }
    }
}

}  // namespace
