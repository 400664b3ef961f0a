#include "tests/e2e/report_shape.h"

#include <regex>

namespace {

// Each line of the report in order: its label with the exact blanks after it, and the form of
// its value. A flag is one digit 0 or 1; a hex value has no prefix and no leading zeros; the
// signature fields fit their bits; the texts stop at their 12 and 48 bytes.
struct LineForm {
    const char* label;
    const char* value;
};

const LineForm kLineForms[kReportLineCount] = {
    {"VenderID  ", ".{0,12}"},
    {"CpuName   ", ".{0,48}"},
    {"TypeID ",
     "[0-3], FamilyID ([0-9]|1[0-5]), ModelID ([0-9]|1[0-5]), SteppingID ([0-9]|1[0-5])"},
    {"CpuClock ", "(0|[1-9][0-9]*)\\.[0-9]MHz"},
    {"", ""},
    {"CPUID       ", "[01]"},
    {"CPUIDMax    ", "0|[1-9a-f][0-9a-f]{0,7}"},
    {"CPUIDExtMax ", "0|[1-9a-f][0-9a-f]{0,7}"},
    {"FPU    ", "[01]"},
    {"TSC    ", "[01]"},
    {"MSR    ", "[01]"},
    {"CMOV   ", "[01]"},
    {"MMX    ", "[01]"},
    {"3DNow! ", "[01]"},
    {"SSE_INT    ", "[01]"},
    {"SSE_FP     ", "[01]"},
    {"3DNow! Ext ", "[01]"},
    {"FCMOV      ", "[01]"},
};

constexpr std::size_t kFpuLine = 8;
constexpr std::size_t kCmovLine = 11;
constexpr std::size_t kFcmovLine = 17;

bool LineHasForm(const std::string& line, const LineForm& form) {
    const std::string label = form.label;
    return line.compare(0, label.size(), label) == 0 &&
           std::regex_match(line.substr(label.size()), std::regex(form.value));
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string ReportValue(const std::vector<std::string>& lines, std::size_t line) {
    return lines.at(line).substr(std::string(kLineForms[line].label).size());
}

testing::AssertionResult IsWellFormedReport(const std::string& text) {
    if (text.empty() || text.back() != '\n') {
        return testing::AssertionFailure() << "the report does not end with a line end";
    }
    const std::vector<std::string> lines = SplitLines(text);
    if (lines.size() != kReportLineCount) {
        return testing::AssertionFailure()
               << "the report has " << lines.size() << " lines, not " << kReportLineCount;
    }
    for (std::size_t i = 0; i < kReportLineCount; ++i) {
        if (!LineHasForm(lines[i], kLineForms[i])) {
            return testing::AssertionFailure()
                   << "line " << i + 1 << " \"" << lines[i] << "\" is not \"" << kLineForms[i].label
                   << "\" followed by " << kLineForms[i].value;
        }
    }
    const bool fcmov = ReportValue(lines, kFcmovLine) == "1";
    const bool both = ReportValue(lines, kFpuLine) == "1" && ReportValue(lines, kCmovLine) == "1";
    if (fcmov != both) {
        return testing::AssertionFailure() << "FCMOV is not CMOV and FPU";
    }
    return testing::AssertionSuccess();
}
