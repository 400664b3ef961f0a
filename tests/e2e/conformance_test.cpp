// Conformance: every recorded processor, replayed through cpuprobe-sim, prints exactly the
// report recorded beside it. One test per dump, named after it, so a failure names the part.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/report_cases.h"

namespace {

const std::string kSimulatorPath = CPUPROBE_SIM_PATH;
const std::string kProcessorsFolder = CPUPROBE_PROCESSORS_DIR;

class Dump : public testing::TestWithParam<ReportCase> {};

TEST_P(Dump, GivesItsReport) { ExpectSimulatorGivesReport(kSimulatorPath, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Processors, Dump,
                         testing::ValuesIn(FindReportCases(kProcessorsFolder, ".txt")),
                         ReportCaseName);

}  // namespace
