// Files that pair an input for cpuprobe-sim with the report it must give, and running the
// simulator on them.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/process.h"

struct ReportCase {
    std::string name;        // the test's name: the file's path below the folder, sanitised
    std::string inputPath;   // NAME.txt or NAME.scenario
    std::string reportPath;  // NAME.report beside it
};

// Shows a case as its input file in GoogleTest's messages.
void PrintTo(const ReportCase& reportCase, std::ostream* out);

// Every file with the given extension below the folder, recursively, sorted by path. Each
// case's name is unique and valid as a GoogleTest parameter name.
std::vector<ReportCase> FindReportCases(const std::string& folder, const std::string& extension);

// The case of one input file, given by its path below the folder.
ReportCase ReportCaseFor(const std::string& folder, const std::string& relativeInput);

// Names the parametrized test after its case, so that a failure names the processor.
std::string ReportCaseName(const testing::TestParamInfo<ReportCase>& info);

// Runs cpuprobe-sim on the dump text (written to a temporary file named after `name`), with
// the simulated processor's default clocks.
ProcessResult ReplayDump(const std::string& simulatorPath, const std::string& dumpText,
                         const std::string& name);

// Runs cpuprobe-sim on a scenario file with stdin at its end; a missing path leaves the
// scenario variable unset.
ProcessResult RunSimulator(const std::string& simulatorPath, const std::string* scenarioPath);

// The simulator replays the case's input and prints exactly its report, without a word on
// stderr, and ends normally.
void ExpectSimulatorGivesReport(const std::string& simulatorPath, const ReportCase& reportCase);
