// Conformance: every recorded processor, replayed through cpuprobe-sim, prints exactly the
// report recorded beside it. One test per dump, named after it, so a failure names the part.
//
// Where CPUPROBE_PROCESSOR names one file below the processors' folder, only that processor
// runs: so the ctest tests of build/tests/processors run one each. Without it, every recorded
// processor runs, as the whole suite's two shards do.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/report_cases.h"

namespace {

const std::string kSimulatorPath = CPUPROBE_SIM_PATH;
const std::string kProcessorsFolder = CPUPROBE_PROCESSORS_DIR;
constexpr const char* kOneProcessorVariable = "CPUPROBE_PROCESSOR";

std::vector<ReportCase> ProcessorsToRun() {
    const char* one = std::getenv(kOneProcessorVariable);
    if (one != nullptr) {
        return {ReportCaseFor(kProcessorsFolder, one)};
    }
    return FindReportCases(kProcessorsFolder, ".txt");
}

class Dump : public testing::TestWithParam<ReportCase> {};

TEST_P(Dump, GivesItsReport) { ExpectSimulatorGivesReport(kSimulatorPath, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Processors, Dump, testing::ValuesIn(ProcessorsToRun()), ReportCaseName);

}  // namespace
