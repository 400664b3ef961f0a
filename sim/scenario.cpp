#include "sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <iterator>

namespace {

// A read position in one line. Each Take... function consumes what it names and returns
// true, or leaves the position where it was and returns false.
struct Cursor {
    const std::string& line;
    std::size_t pos = 0;

    bool AtEnd() const { return pos >= line.size(); }
    char Peek() const { return AtEnd() ? '\0' : line[pos]; }
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

bool TakeBlanks(Cursor& at) {
    const std::size_t start = at.pos;
    while (IsBlank(at.Peek())) {
        ++at.pos;
    }
    return at.pos > start;
}

bool TakeText(Cursor& at, const char* text) {
    std::size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    if (at.line.compare(at.pos, length, text) != 0) {
        return false;
    }
    at.pos += length;
    return true;
}

// A whole hex number of 1 to maxDigits digits: fails if more digits follow.
bool TakeHex(Cursor& at, uint64_t& value, int maxDigits) {
    Cursor probe = at;
    uint64_t result = 0;
    int digits = 0;
    while (IsHexDigit(probe.Peek())) {
        if (++digits > maxDigits) {
            return false;
        }
        result = (result << 4) | static_cast<uint64_t>(HexValue(probe.Peek()));
        ++probe.pos;
    }
    if (digits == 0) {
        return false;
    }
    at.pos = probe.pos;
    value = result;
    return true;
}

bool TakeHex32(Cursor& at, uint32_t& value) {
    uint64_t wide = 0;
    if (!TakeHex(at, wide, 8)) {
        return false;
    }
    value = static_cast<uint32_t>(wide);
    return true;
}

bool TakeDecimal(Cursor& at, uint64_t& value) {
    uint64_t result = 0;
    std::size_t start = at.pos;
    while (std::isdigit(static_cast<unsigned char>(at.Peek())) != 0) {
        const uint64_t digit = static_cast<uint64_t>(at.Peek() - '0');
        if (result > (UINT64_MAX - digit) / 10) {
            at.pos = start;
            return false;
        }
        result = result * 10 + digit;
        ++at.pos;
    }
    if (at.pos == start) {
        return false;
    }
    value = result;
    return true;
}

// CPUID 80000002: 20444D41-30352D43-6F725020-73736563 [anything]
// The colon may be missing or have blanks on either side; the dashes may be blanks.
bool TakeDumpLeafLine(Cursor at, uint32_t& leaf, CpuidRegisters& regs) {
    TakeBlanks(at);
    if (!TakeText(at, "CPUID") || !TakeBlanks(at) || !TakeHex32(at, leaf)) {
        return false;
    }
    const bool blanks = TakeBlanks(at);
    const bool colon = TakeText(at, ":");
    if (!blanks && !colon) {
        return false;
    }
    TakeBlanks(at);
    uint32_t* const fields[] = {&regs.eax, &regs.ebx, &regs.ecx, &regs.edx};
    for (std::size_t i = 0; i < 4; ++i) {
        if (i > 0) {
            const bool before = TakeBlanks(at);
            const bool dash = TakeText(at, "-");
            TakeBlanks(at);
            if (!before && !dash) {
                return false;
            }
        }
        if (!TakeHex32(at, *fields[i])) {
            return false;
        }
    }
    return true;
}

//    0x80000002 0x00: eax=0x20444d41 ebx=0x30352d43 ecx=0x6f725020 edx=0x73736563
// as printed by `cpuid -r`; the sub-leaf is read past and not used.
bool TakeRawLeafLine(Cursor at, uint32_t& leaf, CpuidRegisters& regs) {
    uint32_t subleaf = 0;
    TakeBlanks(at);
    if (!TakeText(at, "0x") || !TakeHex32(at, leaf) || !TakeBlanks(at) || !TakeText(at, "0x") ||
        !TakeHex32(at, subleaf) || !TakeText(at, ":")) {
        return false;
    }
    const char* const names[] = {"eax=0x", "ebx=0x", "ecx=0x", "edx=0x"};
    uint32_t* const fields[] = {&regs.eax, &regs.ebx, &regs.ecx, &regs.edx};
    for (std::size_t i = 0; i < 4; ++i) {
        if (!TakeBlanks(at) || !TakeText(at, names[i]) || !TakeHex32(at, *fields[i])) {
            return false;
        }
    }
    return true;
}

// Decimal, or hex after 0x, up to 64 bits.
bool TakeNumber(Cursor& at, uint64_t& value) {
    if (TakeText(at, "0x") || TakeText(at, "0X")) {
        return TakeHex(at, value, 16);
    }
    return TakeDecimal(at, value);
}

struct NumberDirective {
    const char* name;
    uint64_t Scenario::*field;
};

constexpr NumberDirective kNumberDirectives[] = {
    {"tick-start", &Scenario::tickStart},     {"tick-step", &Scenario::tickStep},
    {"tsc-start", &Scenario::tscStart},       {"tsc-per-ms", &Scenario::tscPerMs},
    {"tick-stops", &Scenario::tickStopsAtMs}, {"read-ns", &Scenario::readNs},
};

// A directive with no value: it turns off what the field says the processor or system has.
struct SwitchDirective {
    const char* name;
    bool Scenario::*field;
};

constexpr SwitchDirective kSwitchDirectives[] = {
    {"no-cpuid", &Scenario::idBitCanChange},
    {"tick-unreadable", &Scenario::tickReadable},
};

// A directive with two numbers, AT and MS: a read of one kind comes late.
struct LateReadDirective {
    const char* name;
    SimulatedRead read;
};

constexpr LateReadDirective kLateReadDirectives[] = {
    {"tick-late", SimulatedRead::kTick},
    {"counter-late", SimulatedRead::kCounter},
};

std::string TakeDirectiveName(Cursor& at) {
    const std::size_t start = at.pos;
    while (!at.AtEnd() && !IsBlank(at.Peek())) {
        ++at.pos;
    }
    return at.line.substr(start, at.pos - start);
}

template <typename Directive, std::size_t kCount>
const Directive* FindDirective(const Directive (&table)[kCount], const std::string& name) {
    const Directive* found =
        std::find_if(std::begin(table), std::end(table),
                     [&name](const Directive& directive) { return name == directive.name; });
    return found == std::end(table) ? nullptr : found;
}

// Each Apply... returns an empty text when the directive was applied, or what is wrong with it.
std::string ApplySwitch(const SwitchDirective& directive, const Cursor& at, Scenario& scenario) {
    if (!at.AtEnd()) {
        return std::string("@") + directive.name + " takes no value";
    }
    scenario.*directive.field = false;
    return "";
}

std::string ApplyNumber(const NumberDirective& directive, Cursor at, Scenario& scenario) {
    uint64_t value = 0;
    if (!TakeNumber(at, value) || !at.AtEnd()) {
        return std::string("@") + directive.name +
               " needs one number, decimal or 0x-hex, of at most 64 bits";
    }
    if (directive.field == &Scenario::tickStep && static_cast<uint32_t>(value) == 0) {
        // The 32-bit tick count would not move: a tick that stops is said with @tick-stops.
        return "@tick-step must advance the 32-bit tick count";
    }
    if (directive.field == &Scenario::readNs && value == 0) {
        // Without @read-ns reads take no time already; with it, time is made of the reads.
        return "@read-ns must be at least 1 ns";
    }
    scenario.*directive.field = value;
    return "";
}

// AT and MS, and nothing after them.
bool TakeTwoNumbers(Cursor at, uint64_t& first, uint64_t& second) {
    return TakeNumber(at, first) && TakeBlanks(at) && TakeNumber(at, second) && at.AtEnd();
}

std::string TwoNumbersNeeded(const char* name) {
    return std::string("@") + name +
           " needs two numbers, AT and MS, decimal or 0x-hex, of at most 64 bits";
}

constexpr int kNanosecondPlaces = 6;

// A number of ms, as TakeNumber, or decimal with up to six places after the point: whole ms and
// the ns beyond them.
bool TakeMilliseconds(Cursor& at, uint64_t& ms, uint32_t& ns) {
    Cursor probe = at;
    const bool hex = TakeText(probe, "0x") || TakeText(probe, "0X");
    probe.pos = at.pos;
    uint64_t whole = 0;
    if (!TakeNumber(probe, whole)) {
        return false;
    }
    uint32_t fraction = 0;
    if (!hex && TakeText(probe, ".")) {
        int places = 0;
        while (std::isdigit(static_cast<unsigned char>(probe.Peek())) != 0) {
            if (++places > kNanosecondPlaces) {
                return false;
            }
            fraction = fraction * 10 + static_cast<uint32_t>(probe.Peek() - '0');
            ++probe.pos;
        }
        if (places == 0) {
            return false;
        }
        for (; places < kNanosecondPlaces; ++places) {
            fraction *= 10;
        }
    }
    at.pos = probe.pos;
    ms = whole;
    ns = fraction;
    return true;
}

std::string ApplyLateRead(const LateReadDirective& directive, Cursor at, Scenario& scenario) {
    LateRead late{directive.read, 0, 0};
    if (!TakeNumber(at, late.atMs) || !TakeBlanks(at) ||
        !TakeMilliseconds(at, late.lateMs, late.lateNs) || !at.AtEnd()) {
        return TwoNumbersNeeded(directive.name) + ", MS also with up to six decimals";
    }
    scenario.lateReads.push_back(late);
    return "";
}

constexpr const char* kStepChangeDirective = "tick-step-from";

std::string ApplyStepChange(Cursor at, Scenario& scenario) {
    StepChange change{0, 0};
    if (!TakeTwoNumbers(at, change.atMs, change.stepMs)) {
        return TwoNumbersNeeded(kStepChangeDirective);
    }
    if (static_cast<uint32_t>(change.stepMs) == 0) {
        return "@tick-step-from must advance the 32-bit tick count";
    }
    scenario.stepChanges.push_back(change);
    return "";
}

// Returns an empty text when the directive was applied, or what is wrong with it.
std::string ApplyDirective(Cursor at, Scenario& scenario) {
    TakeBlanks(at);
    TakeText(at, "@");
    const std::string name = TakeDirectiveName(at);
    TakeBlanks(at);
    if (const SwitchDirective* directive = FindDirective(kSwitchDirectives, name)) {
        return ApplySwitch(*directive, at, scenario);
    }
    if (const NumberDirective* directive = FindDirective(kNumberDirectives, name)) {
        return ApplyNumber(*directive, at, scenario);
    }
    if (const LateReadDirective* directive = FindDirective(kLateReadDirectives, name)) {
        return ApplyLateRead(*directive, at, scenario);
    }
    if (name == kStepChangeDirective) {
        return ApplyStepChange(at, scenario);
    }
    return "unknown directive @" + name;
}

bool IsDirective(const std::string& line) {
    Cursor at{line};
    TakeBlanks(at);
    return at.Peek() == '@';
}

}  // namespace

ScenarioResult ParseScenario(const std::string& text, Scenario& scenario) {
    ScenarioResult result;
    std::size_t start = 0;
    int lineNumber = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        while (!line.empty() && (line.back() == '\r' || IsBlank(line.back()))) {
            line.pop_back();
        }
        if (IsDirective(line)) {
            const std::string problem = ApplyDirective(Cursor{line}, scenario);
            if (!problem.empty()) {
                result.ok = false;
                result.errorLine = lineNumber;
                result.error = problem;
                return result;
            }
            ++result.linesRead;
            continue;
        }
        uint32_t leaf = 0;
        CpuidRegisters regs{0, 0, 0, 0};
        if (TakeDumpLeafLine(Cursor{line}, leaf, regs) ||
            TakeRawLeafLine(Cursor{line}, leaf, regs)) {
            scenario.leaves.emplace(leaf, regs);  // keeps the first answer for a leaf
            ++result.linesRead;
        }
    }
    return result;
}
