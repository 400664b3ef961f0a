// Fuzzes the scenario reader on arbitrary text. Besides not crashing or hanging, it must take
// exactly the well-formed directives and refuse the first malformed one, at its own line.
// Directives are checked here against a reading of their format written independently of the
// reader: after leading blanks and trailing blanks and carriage returns are dropped, a line
// starting with '@' is "@no-cpuid" or "@tick-unreadable" alone, one of the six clock names,
// blanks, and one number of at most 64 bits, decimal or 0x-hex (1 to 16 digits), or
// "@tick-late", "@counter-late" or "@tick-step-from", blanks, and two such numbers with blanks
// between them (a step, of @tick-step or @tick-step-from, not 0 in its low 32 bits; @read-ns
// not 0; the second number of a late read may also be decimal with a point and 1 to 6 digits
// after it, the ns beyond the whole ms). The
// same bytes read as a file must give the same scenario, or be refused only when nothing in
// them could be read.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/scenario_text.h"

namespace {

void Require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "broken property: %s\n", what);
        std::abort();
    }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::size_t stop = end == std::string::npos ? text.size() : end;
        lines.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return lines;
}

// The line without leading blanks and without trailing blanks and carriage returns.
std::string Trimmed(const std::string& line) {
    std::size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) {
        ++first;
    }
    std::size_t last = line.size();
    while (last > first && (IsBlank(line[last - 1]) || line[last - 1] == '\r')) {
        --last;
    }
    return line.substr(first, last - first);
}

// Parses a whole 64-bit number, decimal or 0x-hex, or returns false.
bool ParseNumber(const std::string& text, uint64_t& value) {
    const bool hex = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty()) {
        return false;
    }
    if (!std::all_of(digits.begin(), digits.end(), hex ? IsHexDigit : IsDigit)) {
        return false;
    }
    if (hex) {
        if (digits.size() > 16) {
            return false;
        }
        value = std::stoull(digits, nullptr, 16);
        return true;
    }
    const std::size_t significant = digits.find_first_not_of('0');
    const std::string number = significant == std::string::npos ? "0" : digits.substr(significant);
    const std::string kLargest = "18446744073709551615";
    if (number.size() > kLargest.size() ||
        (number.size() == kLargest.size() && number > kLargest)) {
        return false;
    }
    value = std::stoull(number, nullptr, 10);
    return true;
}

// Two words with blanks between them, or false.
bool SplitTwo(const std::string& text, std::string& first, std::string& second) {
    const std::size_t firstEnd = text.find_first_of(" \t");
    if (firstEnd == std::string::npos) {
        return false;
    }
    const std::size_t secondStart = text.find_first_not_of(" \t", firstEnd);
    if (secondStart == std::string::npos) {
        return false;
    }
    first = text.substr(0, firstEnd);
    second = text.substr(secondStart);
    return true;
}

// Two numbers with blanks between them, or false.
bool ParseTwoNumbers(const std::string& text, uint64_t& first, uint64_t& second) {
    std::string a;
    std::string b;
    return SplitTwo(text, a, b) && ParseNumber(a, first) && ParseNumber(b, second);
}

// A number, or whole decimal ms, a point and 1 to 6 digits: the ns beyond them.
bool ParseMilliseconds(const std::string& text, uint64_t& ms, uint32_t& ns) {
    const std::size_t point = text.find('.');
    ns = 0;
    if (point == std::string::npos) {
        return ParseNumber(text, ms);
    }
    const std::string whole = text.substr(0, point);
    const std::string fraction = text.substr(point + 1);
    if (whole.empty() || !std::all_of(whole.begin(), whole.end(), IsDigit) || fraction.empty() ||
        fraction.size() > 6 || !std::all_of(fraction.begin(), fraction.end(), IsDigit) ||
        !ParseNumber(whole, ms)) {
        return false;
    }
    ns = static_cast<uint32_t>(std::stoul((fraction + "00000").substr(0, 6)));
    return true;
}

// Applies a directive (a trimmed line starting with '@') to the expected scenario, or returns
// false when it is malformed.
bool ApplyDirective(const std::string& directive, Scenario& expected) {
    std::size_t nameEnd = 1;
    while (nameEnd < directive.size() && !IsBlank(directive[nameEnd])) {
        ++nameEnd;
    }
    const std::string name = directive.substr(1, nameEnd - 1);
    std::size_t valueStart = nameEnd;
    while (valueStart < directive.size() && IsBlank(directive[valueStart])) {
        ++valueStart;
    }
    const std::string value = directive.substr(valueStart);
    if (name == "no-cpuid") {
        expected.idBitCanChange = false;
        return value.empty();
    }
    if (name == "tick-unreadable") {
        expected.tickReadable = false;
        return value.empty();
    }
    if (name == "tick-late" || name == "counter-late") {
        LateRead late{name == "tick-late" ? SimulatedRead::kTick : SimulatedRead::kCounter, 0, 0};
        expected.lateReads.push_back(late);
        LateRead& added = expected.lateReads.back();
        std::string at;
        std::string ms;
        return SplitTwo(value, at, ms) && ParseNumber(at, added.atMs) &&
               ParseMilliseconds(ms, added.lateMs, added.lateNs);
    }
    if (name == "tick-step-from") {
        expected.stepChanges.push_back({0, 0});
        StepChange& change = expected.stepChanges.back();
        return ParseTwoNumbers(value, change.atMs, change.stepMs) &&
               static_cast<uint32_t>(change.stepMs) != 0;
    }
    uint64_t number = 0;
    if (!ParseNumber(value, number)) {
        return false;
    }
    if (name == "tick-start") {
        expected.tickStart = number;
    } else if (name == "tick-step") {
        expected.tickStep = number;
        return static_cast<uint32_t>(number) != 0;
    } else if (name == "tsc-start") {
        expected.tscStart = number;
    } else if (name == "tsc-per-ms") {
        expected.tscPerMs = number;
    } else if (name == "tick-stops") {
        expected.tickStopsAtMs = number;
    } else if (name == "read-ns") {
        expected.readNs = number;
        return number != 0;
    } else {
        return false;
    }
    return true;
}

void CheckSameClocks(const Scenario& read, const Scenario& expected) {
    Require(read.idBitCanChange == expected.idBitCanChange, "@no-cpuid applied");
    Require(read.tickStart == expected.tickStart, "@tick-start value");
    Require(read.tickStep == expected.tickStep, "@tick-step value");
    Require(read.tscStart == expected.tscStart, "@tsc-start value");
    Require(read.tscPerMs == expected.tscPerMs, "@tsc-per-ms value");
    Require(read.tickReadable == expected.tickReadable, "@tick-unreadable applied");
    Require(read.tickStopsAtMs == expected.tickStopsAtMs, "@tick-stops value");
    Require(read.readNs == expected.readNs, "@read-ns value");
    Require(read.lateReads.size() == expected.lateReads.size(), "every late read taken");
    for (std::size_t i = 0; i < read.lateReads.size(); ++i) {
        const LateRead& got = read.lateReads[i];
        const LateRead& want = expected.lateReads[i];
        Require(got.read == want.read && got.atMs == want.atMs && got.lateMs == want.lateMs &&
                    got.lateNs == want.lateNs,
                "late reads in file order, with their values");
    }
    Require(read.stepChanges.size() == expected.stepChanges.size(), "every step change taken");
    for (std::size_t i = 0; i < read.stepChanges.size(); ++i) {
        Require(read.stepChanges[i].atMs == expected.stepChanges[i].atMs &&
                    read.stepChanges[i].stepMs == expected.stepChanges[i].stepMs,
                "step changes in file order, with their values");
    }
}

// The same bytes read as a file: decoded first, and refused as a whole only when nothing in
// them was read. Without a byte-order mark the text is read as it stands.
void CheckWholeFileReading(const std::string& bytes, const Scenario& parsed) {
    Scenario read;
    const ScenarioResult result = ReadScenarioBytes(bytes, read);
    const bool marked = bytes.rfind("\xEF\xBB\xBF", 0) == 0 || bytes.rfind("\xFF\xFE", 0) == 0 ||
                        bytes.rfind("\xFE\xFF", 0) == 0;
    if (marked) {
        return;
    }
    Require(result.ok || parsed.leaves.empty(), "a file with a leaf line is read");
    if (result.ok) {
        Require(read.leaves.size() == parsed.leaves.size(), "the file's leaves are the text's");
        CheckSameClocks(read, parsed);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Scenario read;
    const ScenarioResult result = ParseScenario(text, read);

    const std::vector<std::string> lines = SplitLines(text);
    Scenario expected;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = Trimmed(lines[i]);
        if (line.empty() || line[0] != '@') {
            continue;
        }
        const int lineNumber = static_cast<int>(i + 1);
        if (!ApplyDirective(line, expected)) {
            Require(!result.ok, "a malformed directive is refused");
            Require(result.errorLine == lineNumber, "the first malformed directive is named");
            Require(!result.error.empty(), "a refusal says what is wrong");
            return 0;
        }
        Require(result.ok || result.errorLine > lineNumber, "a well-formed directive is taken");
    }
    Require(result.ok, "a refusal names a malformed directive");
    CheckSameClocks(read, expected);
    CheckWholeFileReading(text, read);
    return 0;
}
