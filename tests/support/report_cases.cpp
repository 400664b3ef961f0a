#include "tests/support/report_cases.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>

#include "sim/simulated_processor.h"

namespace fs = std::filesystem;

namespace {

// GoogleTest allows only letters, digits and underscores in a parameter name.
std::string SanitisedName(const std::string& text) {
    std::string name = text;
    for (char& c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            c = '_';
        }
    }
    return name;
}

// Two paths may sanitise to the same name ("a-b", "a_b"); later ones get a number.
std::string UniqueName(const std::string& wanted, std::set<std::string>& taken) {
    std::string name = wanted;
    for (int suffix = 2; !taken.insert(name).second; ++suffix) {
        name = wanted + "_" + std::to_string(suffix);
    }
    return name;
}

}  // namespace

void PrintTo(const ReportCase& reportCase, std::ostream* out) { *out << reportCase.inputPath; }

std::vector<ReportCase> FindReportCases(const std::string& folder, const std::string& extension) {
    std::vector<fs::path> inputs;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().extension() == extension) {
            inputs.push_back(entry.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());

    std::vector<ReportCase> cases;
    std::set<std::string> taken;
    for (const fs::path& input : inputs) {
        cases.push_back(ReportCaseFor(folder, input.lexically_relative(folder).string()));
        cases.back().name = UniqueName(cases.back().name, taken);
    }
    return cases;
}

ReportCase ReportCaseFor(const std::string& folder, const std::string& relativeInput) {
    const fs::path input = fs::path(folder) / relativeInput;
    fs::path stem = relativeInput;
    stem.replace_extension();
    fs::path report = input;
    report.replace_extension(".report");
    return {SanitisedName(stem.generic_string()), input.string(), report.string()};
}

std::string ReportCaseName(const testing::TestParamInfo<ReportCase>& info) {
    return info.param.name;
}

ProcessResult RunSimulator(const std::string& simulatorPath, const std::string* scenarioPath) {
    Command program;
    program.argv = {simulatorPath};
    program.environment[kScenarioVariable] =
        scenarioPath != nullptr ? std::optional<std::string>(*scenarioPath) : std::nullopt;
    return RunProcess(program, "");
}

ProcessResult ReplayDump(const std::string& simulatorPath, const std::string& dumpText,
                         const std::string& name) {
    const std::string dumpPath = WriteTempFile(name + ".dump", dumpText);
    ProcessResult result = RunSimulator(simulatorPath, &dumpPath);
    std::remove(dumpPath.c_str());
    return result;
}

void ExpectSimulatorGivesReport(const std::string& simulatorPath, const ReportCase& reportCase) {
    ASSERT_TRUE(fs::is_regular_file(reportCase.reportPath))
        << reportCase.inputPath << " has no report beside it";
    const ProcessResult result = RunSimulator(simulatorPath, &reportCase.inputPath);
    EXPECT_EQ(result.out, ReadWholeFile(reportCase.reportPath)) << "from " << reportCase.inputPath;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.exit.exited) << "ended by signal " << result.exit.signal;
    EXPECT_EQ(result.exit.status, 0);
}
