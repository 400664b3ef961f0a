#include "tests/support/report_shape.h"

#include "tests/support/posix_regex.h"

#include <fstream>
#include <stdexcept>

namespace {

struct LineForm {
    std::string label;  // with its blanks
    std::string value;  // a POSIX extended regular expression
};

// One line of the shape file: "LABEL" VALUE; comments and blank lines are not lines of it.
std::vector<LineForm> ReadShape() {
    std::ifstream file(CPUPROBE_REPORT_SHAPE);
    if (!file) {
        throw std::runtime_error("cannot read " CPUPROBE_REPORT_SHAPE);
    }
    std::vector<LineForm> forms;
    for (std::string line; std::getline(file, line);) {
        const std::size_t close = line.find('"', 1);
        if (line.empty() || line[0] != '"' || close == std::string::npos) {
            continue;
        }
        const std::size_t value = std::min(close + 2, line.size());
        forms.push_back({line.substr(1, close - 1), line.substr(value)});
    }
    return forms;
}

const std::vector<LineForm>& Shape() {
    static const std::vector<LineForm> shape = ReadShape();
    return shape;
}

std::string WithoutTrailingBlanks(const std::string& text) {
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

bool LineHasForm(const std::string& line, const LineForm& form) {
    return line.compare(0, form.label.size(), form.label) == 0 &&
           MatchesWhole(line.substr(form.label.size()), form.value);
}

}  // namespace

std::size_t ReportLineCount() { return Shape().size(); }

std::size_t ReportLineOf(const std::string& label) {
    for (std::size_t i = 0; i < Shape().size(); ++i) {
        if (WithoutTrailingBlanks(Shape()[i].label) == label) {
            return i;
        }
    }
    throw std::invalid_argument("no report line is labelled " + label);
}

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

std::vector<std::string> ReportLinesButClock(const std::string& report) {
    std::vector<std::string> lines = SplitLines(report);
    const std::size_t clock = ReportLineOf("CpuClock");
    if (lines.size() > clock) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(clock));
    }
    return lines;
}

std::string ReportValue(const std::vector<std::string>& lines, const std::string& label) {
    const std::size_t line = ReportLineOf(label);
    return lines.at(line).substr(Shape()[line].label.size());
}

testing::AssertionResult IsWellFormedReport(const std::string& text) {
    if (text.empty() || text.back() != '\n') {
        return testing::AssertionFailure() << "the report does not end with a line end";
    }
    const std::vector<std::string> lines = SplitLines(text);
    if (lines.size() != ReportLineCount()) {
        return testing::AssertionFailure()
               << "the report has " << lines.size() << " lines, not " << ReportLineCount();
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!LineHasForm(lines[i], Shape()[i])) {
            return testing::AssertionFailure()
                   << "line " << i + 1 << " \"" << lines[i] << "\" is not \"" << Shape()[i].label
                   << "\" followed by " << Shape()[i].value;
        }
    }
    const bool fcmov = ReportValue(lines, "FCMOV") == "1";
    const bool both = ReportValue(lines, "FPU") == "1" && ReportValue(lines, "CMOV") == "1";
    if (fcmov != both) {
        return testing::AssertionFailure() << "FCMOV is not CMOV and FPU";
    }
    return testing::AssertionSuccess();
}
