// Replaying a raw CPUID dump through cpuprobe-sim, and reading reports line by line, for the
// checks that compare the tool's own report with the one its processor's dump gives.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/process.h"

// The report line that carries the measured clock, which no replay can reproduce.
constexpr std::size_t kClockLineIndex = 3;

// Runs cpuprobe-sim on the dump text (written to a temporary file named after `name`), with
// the simulated processor's default clocks.
ProcessResult ReplayDump(const std::string& simPath, const std::string& dumpText,
                         const std::string& name);

// The report's lines, without their line ends.
std::vector<std::string> ReportLines(const std::string& report);

// The report with its clock line left out.
std::vector<std::string> ReportLinesButClock(const std::string& report);
