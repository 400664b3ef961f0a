// The fixed shape of the tool's report, read from tests/data/report-shape.txt, which the
// scripts read too: each line's label with its exact blanks and the form of its value. Checked
// wherever the exact values cannot be known in advance (the real processor, an emulated one),
// and on hand-written expected reports, so that a slip in them is caught.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

// How many lines a report has.
std::size_t ReportLineCount();

// The line, counted from 0, that carries this label (its blanks left off: "CpuClock").
std::size_t ReportLineOf(const std::string& label);

// The text split at "\n", each line without it; a last line without one counts as a line.
std::vector<std::string> SplitLines(const std::string& text);

// The report's lines without the clock's, which no replay can reproduce.
std::vector<std::string> ReportLinesButClock(const std::string& report);

// Succeeds when the text is a whole report: every line of its form and ended by "\n", and
// FCMOV agreeing with CMOV and FPU.
testing::AssertionResult IsWellFormedReport(const std::string& text);

// What follows the label and its blanks on one line of a well-formed report.
std::string ReportValue(const std::vector<std::string>& lines, const std::string& label);
