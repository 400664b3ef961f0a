// The fixed shape of the tool's report: 18 lines, each label with its exact blanks and a value
// of the form its format allows. Checked wherever the exact values cannot be known in advance
// (the real processor), and on hand-written expected reports, so that a slip in them is caught.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

// Lines of the report, counted from 0, whose values the tests read.
constexpr std::size_t kVendorLine = 0;
constexpr std::size_t kSignatureLine = 2;
constexpr std::size_t kClockLine = 3;
constexpr std::size_t kCpuidMaxLine = 6;
constexpr std::size_t kTscLine = 9;
constexpr std::size_t kReportLineCount = 18;

// The text split at "\n"; a last line without one counts as a line.
std::vector<std::string> SplitLines(const std::string& text);

// Succeeds when the text is a whole report: 18 lines each ended by "\n", every line of its
// form, and FCMOV agreeing with CMOV and FPU.
testing::AssertionResult IsWellFormedReport(const std::string& text);

// What follows the label and its blanks on one line of a well-formed report.
std::string ReportValue(const std::vector<std::string>& lines, std::size_t line);
