// ParseScenario: which lines are leaves, which are directives, which are ignored, and how a
// malformed directive is reported. ReadScenarioBytes: the encodings a saved dump comes in, and
// the files that hold nothing to replay.
#include "sim/scenario.h"
#include "sim/scenario_text.h"
#include "tests/support/saved_text.h"
#include "tests/unit/row_name.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Leaf {
    uint32_t number;
    CpuidRegisters regs;
};

void ExpectLeaf(const Scenario& scenario, const Leaf& expected) {
    const auto found = scenario.leaves.find(expected.number);
    ASSERT_NE(found, scenario.leaves.end()) << "leaf 0x" << std::hex << expected.number;
    EXPECT_EQ(found->second.eax, expected.regs.eax) << "eax";
    EXPECT_EQ(found->second.ebx, expected.regs.ebx) << "ebx";
    EXPECT_EQ(found->second.ecx, expected.regs.ecx) << "ecx";
    EXPECT_EQ(found->second.edx, expected.regs.edx) << "edx";
}

// The clocks and the ID bit exactly as a scenario without directives has them.
void ExpectDefaultClocksAndIdBit(const Scenario& scenario) {
    const Scenario defaults;
    EXPECT_EQ(scenario.idBitCanChange, defaults.idBitCanChange);
    EXPECT_EQ(scenario.tickStart, defaults.tickStart);
    EXPECT_EQ(scenario.tickStep, defaults.tickStep);
    EXPECT_EQ(scenario.tscStart, defaults.tscStart);
    EXPECT_EQ(scenario.tscPerMs, defaults.tscPerMs);
    EXPECT_EQ(scenario.tickReadable, defaults.tickReadable);
    EXPECT_EQ(scenario.tickStopsAtMs, defaults.tickStopsAtMs);
    EXPECT_TRUE(scenario.lateReads.empty());
}

// ---------------------------------------------------------------------------------------------
// Leaf lines, each alone in a file.

struct LeafLineCase {
    const char* name;
    std::string text;
    Leaf expected;
};

class ScenarioLeafLine : public ::testing::TestWithParam<LeafLineCase> {};

TEST_P(ScenarioLeafLine, GivesOneLeaf) {
    const LeafLineCase& row = GetParam();
    Scenario scenario;
    const ScenarioResult result = ParseScenario(row.text, scenario);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(scenario.leaves.size(), 1u);
    ExpectLeaf(scenario, row.expected);
    ExpectDefaultClocksAndIdBit(scenario);
}

const Leaf kNameLeaf = {0x80000002, {0x20444D41, 0x30352D43, 0x6F725020, 0x73736563}};
const Leaf kSignatureLeaf = {0x1, {0x00000633, 0x00010800, 0x00000000, 0x0183F9FF}};

const LeafLineCase kLeafLineCases[] = {
    {"Dump", "CPUID 80000002: 20444D41-30352D43-6F725020-73736563\n", kNameLeaf},
    {"DumpBlanksForDashes", "CPUID 00000001: 00000633 00010800 00000000 0183F9FF\n",
     kSignatureLeaf},
    {"DumpBlankBeforeColon", "CPUID 00000001 :00000633-00010800-00000000-0183F9FF\n",
     kSignatureLeaf},
    {"DumpBlankNoColon", "CPUID 00000001 00000633-00010800-00000000-0183F9FF\n", kSignatureLeaf},
    {"DumpBlanksAndTab", "CPUID 00000001  \t00000633-00010800-00000000-0183F9FF\n", kSignatureLeaf},
    {"DumpNote", "CPUID 00000001: 00000633-00010800-00000000-0183F9FF [SL 01]\n", kSignatureLeaf},
    {"DumpNoteAfterTab", "CPUID 00000001  \t00000633-00010800-00000000-0183F9FF [GenuineIntel]\n",
     kSignatureLeaf},
    {"DumpTrailingBlanks", "CPUID 00000001: 00000633-00010800-00000000-0183F9FF  \n",
     kSignatureLeaf},
    {"DumpLowercase", "CPUID 80000002: 20444d41-30352d43-6f725020-73736563\n", kNameLeaf},
    {"DumpCrlf", "CPUID 80000002: 20444D41-30352D43-6F725020-73736563\r\n", kNameLeaf},
    {"DumpNoFinalNewline", "CPUID 80000002: 20444D41-30352D43-6F725020-73736563", kNameLeaf},
    {"Raw", "   0x80000002 0x00: eax=0x20444d41 ebx=0x30352d43 ecx=0x6f725020 edx=0x73736563\n",
     kNameLeaf},
    {"RawSubLeafNotUsed",
     "   0x00000001 0x05: eax=0x00000633 ebx=0x00010800 ecx=0x00000000 edx=0x0183f9ff\n",
     kSignatureLeaf},
    {"RawCrlfNoFinalNewline",
     "   0x80000002 0x00: eax=0x20444d41 ebx=0x30352d43 ecx=0x6f725020 edx=0x73736563\r",
     kNameLeaf},
};

INSTANTIATE_TEST_SUITE_P(Table, ScenarioLeafLine, ::testing::ValuesIn(kLeafLineCases), RowName());

// ---------------------------------------------------------------------------------------------
// Lines that are neither leaves nor directives.

struct IgnoredCase {
    const char* name;
    const char* text;
};

class ScenarioIgnoredLine : public ::testing::TestWithParam<IgnoredCase> {};

TEST_P(ScenarioIgnoredLine, IsIgnored) {
    Scenario scenario;
    const ScenarioResult result = ParseScenario(GetParam().text, scenario);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(scenario.leaves.empty());
    ExpectDefaultClocksAndIdBit(scenario);
}

const IgnoredCase kIgnoredCases[] = {
    {"Empty", ""},
    {"BlankLines", "\n  \n\t\n\r\n"},
    {"RevisionHeader", "CPUID Revision     : 00000500h\n"},
    {"ManufacturerHeader", "CPUID Manufacturer : AuthenticAMD\n"},
    {"ManufacturerHeaderBare", "CPUID Manufacturer\n"},
    {"ProcessorHeader", "CPU 1:\n"},
    {"RawHeader", "CPU:\n"},
    {"SectionHeader", "------[ Logical CPU #0 ]------\n"},
    {"ThreeRegisters", "CPUID 00000001: 00000633-00010800-00000000\n"},
    {"NineDigitLeaf", "CPUID 100000001: 00000633-00010800-00000000-0183F9FF\n"},
    {"NineDigitRegister", "CPUID 00000001: 00000633-00010800-00000000-0183F9FF0\n"},
    {"NotHex", "CPUID 0000000G: 00000633-00010800-00000000-0183F9FF\n"},
    {"NoSeparatorAfterLeaf", "CPUID 00000001-00000633-00010800-00000000-0183F9FF\n"},
    {"RawWithoutSubLeaf", "   0x00000001: eax=0x00000633 ebx=0x00010800 ecx=0x0 edx=0x0\n"},
    {"RawMissingRegister", "   0x00000001 0x00: eax=0x00000633 ebx=0x00010800 ecx=0x0\n"},
    {"NotADirectiveMidLine", "note: @no-cpuid\n"},
};

INSTANTIATE_TEST_SUITE_P(Table, ScenarioIgnoredLine, ::testing::ValuesIn(kIgnoredCases), RowName());

// A dump of two logical processors with its headers: only the first answer for a leaf counts,
// whichever form it takes.
TEST(Scenario, FirstLineForALeafWins) {
    const std::string text =
        "------[ CPU Info ]------\n"
        "CPUID Manufacturer : GenuineIntel\n"
        "CPUID Revision     : 00000633h\n"
        "------[ Logical CPU #0 ]------\n"
        "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
        "CPUID 00000001: 00000633-00010800-00000000-0183F9FF [SL 01]\n"
        "------[ Logical CPU #1 ]------\n"
        "CPUID 00000000: 00000003-756E6547-6C65746E-49656E69\n"
        "   0x00000001 0x00: eax=0x00000634 ebx=0x01010800 ecx=0x00000000 edx=0x0183f9ff\n"
        "   0x80000000 0x00: eax=0x80000004 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n"
        "CPUID 80000000: 80000008-00000000-00000000-00000000\n";
    Scenario scenario;
    const ScenarioResult result = ParseScenario(text, scenario);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(scenario.leaves.size(), 3u);
    ExpectLeaf(scenario, {0x0, {0x00000002, 0x756E6547, 0x6C65746E, 0x49656E69}});
    ExpectLeaf(scenario, kSignatureLeaf);
    ExpectLeaf(scenario, {0x80000000, {0x80000004, 0, 0, 0}});
}

// ---------------------------------------------------------------------------------------------
// Directives that are well formed.

struct DirectiveCase {
    const char* name;
    const char* text;
    bool idBitCanChange;
    uint64_t tickStart;
    uint64_t tickStep;
    uint64_t tscStart;
    uint64_t tscPerMs;
};

class ScenarioDirective : public ::testing::TestWithParam<DirectiveCase> {};

TEST_P(ScenarioDirective, SetsItsValue) {
    const DirectiveCase& row = GetParam();
    Scenario scenario;
    const ScenarioResult result = ParseScenario(row.text, scenario);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(scenario.idBitCanChange, row.idBitCanChange);
    EXPECT_EQ(scenario.tickStart, row.tickStart);
    EXPECT_EQ(scenario.tickStep, row.tickStep);
    EXPECT_EQ(scenario.tscStart, row.tscStart);
    EXPECT_EQ(scenario.tscPerMs, row.tscPerMs);
    EXPECT_TRUE(scenario.leaves.empty());
}

constexpr uint64_t kMax64 = UINT64_MAX;
constexpr uint64_t kDefaultPerMs = 1000000;

const DirectiveCase kDirectiveCases[] = {
    {"NoCpuid", "@no-cpuid\n", false, 0, 1, 0, kDefaultPerMs},
    {"TickStartDecimal", "@tick-start 123\n", true, 123, 1, 0, kDefaultPerMs},
    {"TickStartHex", "@tick-start 0xFFFFFF00\n", true, 0xFFFFFF00, 1, 0, kDefaultPerMs},
    {"TickStepDecimal", "@tick-step 16\n", true, 0, 16, 0, kDefaultPerMs},
    {"TickStepMovesLow32Bits", "@tick-step 0x100000001\n", true, 0, 0x100000001, 0, kDefaultPerMs},
    {"TscStartHexMixedCase", "@tsc-start 0xabcDEF0123456789\n", true, 0, 1, 0xABCDEF0123456789,
     kDefaultPerMs},
    {"TscStartMaxDecimal", "@tsc-start 18446744073709551615\n", true, 0, 1, kMax64, kDefaultPerMs},
    {"TscStartMaxHex", "@tsc-start 0xFFFFFFFFFFFFFFFF\n", true, 0, 1, kMax64, kDefaultPerMs},
    {"TscPerMsDecimal", "@tsc-per-ms 9000000\n", true, 0, 1, 0, 9000000},
    {"TscPerMsZero", "@tsc-per-ms 0\n", true, 0, 1, 0, 0},
    {"TrailingBlanks", "@tick-start 7 \t\n", true, 7, 1, 0, kDefaultPerMs},
    {"All", "@no-cpuid\n@tick-start 1\n@tick-step 2\n@tsc-start 3\n@tsc-per-ms 4\n", false, 1, 2, 3,
     4},
    {"AllCrlf", "@no-cpuid\r\n@tick-start 1\r\n@tick-step 2\r\n@tsc-start 3\r\n@tsc-per-ms 4\r\n",
     false, 1, 2, 3, 4},
    {"NoFinalNewline", "@tick-start 1\n@tsc-per-ms 4", true, 1, 1, 0, 4},
    {"NoCpuidWithoutFinalNewline", "@tsc-per-ms 4\n@no-cpuid", false, 0, 1, 0, 4},
};

INSTANTIATE_TEST_SUITE_P(Table, ScenarioDirective, ::testing::ValuesIn(kDirectiveCases), RowName());

// ---------------------------------------------------------------------------------------------
// Malformed directives: the whole file is rejected and the first bad line is named.

struct MalformedCase {
    const char* name;
    const char* text;
    int errorLine;
};

class ScenarioMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(ScenarioMalformed, IsRejectedWithItsLine) {
    const MalformedCase& row = GetParam();
    Scenario scenario;
    const ScenarioResult result = ParseScenario(row.text, scenario);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.errorLine, row.errorLine);
    EXPECT_FALSE(result.error.empty());
}

const MalformedCase kMalformedCases[] = {
    {"MissingValue", "@tick-start\n", 1},
    {"MissingValueTrailingBlank", "@tick-start \n", 1},
    {"TextAfterValue", "@tick-start 5 ms\n", 1},
    {"TwoValues", "@tsc-per-ms 1 2\n", 1},
    {"Word", "@tsc-start five\n", 1},
    {"Fraction", "@tsc-per-ms 1.5\n", 1},
    {"Negative", "@tsc-start -1\n", 1},
    {"HexWithoutDigits", "@tsc-start 0x\n", 1},
    {"DecimalOverflow", "@tsc-start 18446744073709551616\n", 1},
    {"HexOverflow", "@tsc-start 0x10000000000000000\n", 1},
    {"UnknownName", "@tick-rate 5\n", 1},
    {"BareAt", "@\n", 1},
    {"NoCpuidWithValue", "@no-cpuid 1\n", 1},
    {"TickUnreadableWithValue", "@tick-unreadable yes\n", 1},
    // The 32-bit tick count would never move, and the wait would never end.
    {"TickStepZero", "@tick-step 0\n", 1},
    {"TickStepHexZero", "@tick-step 0x0\n", 1},
    {"TickStepWholeTurn", "@tick-step 0x100000000\n", 1},
    {"TickStepWholeTurnDecimal", "@tick-step 4294967296\n", 1},
    {"TickStepThreeTurns", "@tick-step 0x300000000\n", 1},
    {"AfterOtherLines",
     "CPU:\n   0x00000000 0x00: eax=0x1 ebx=0x0 ecx=0x0 edx=0x0\n\n@tick-step 0\n", 4},
    {"CrlfLines", "CPUID 00000000: 00000001-00000000-00000000-00000000\r\n\r\n@bogus\r\n", 3},
    {"LastLineWithoutNewline", "@tick-start 1\n@tick-step 0", 2},
    {"FirstOfTwo", "@tick-start 1\n@bogus\n@tick-step 0\n", 2},
};

INSTANTIATE_TEST_SUITE_P(Table, ScenarioMalformed, ::testing::ValuesIn(kMalformedCases), RowName());

// ---------------------------------------------------------------------------------------------
// Decoding a file's bytes: byte-order marks, UTF-16 in either order, and what is not text.

// A literal's bytes, NULs included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::string text;
};

class ScenarioDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(ScenarioDecoding, GivesUtf8Text) {
    EXPECT_EQ(DecodeScenarioBytes(GetParam().bytes), GetParam().text);
}

const DecodeCase kDecodeCases[] = {
    {"NoMarkKeptByteForByte", Bytes("CPU:\r\n\xFF\x00\xFE"), Bytes("CPU:\r\n\xFF\x00\xFE")},
    {"Empty", "", ""},
    {"Utf8MarkDropped", "\xEF\xBB\xBF@no-cpuid\n", "@no-cpuid\n"},
    {"Utf8MarkOnlyAtTheStart", "CPU:\xEF\xBB\xBF\n", "CPU:\xEF\xBB\xBF\n"},
    {"Utf16MarkOnlyAtTheStart", Bytes("C\0\xFF\xFE"), Bytes("C\0\xFF\xFE")},
    {"Utf16LittleEndian", Bytes("\xFF\xFE@\0x\0\r\0\n\0"), "@x\r\n"},
    {"Utf16BigEndian", Bytes("\xFE\xFF\0@\0x\0\n"), "@x\n"},
    {"Utf16MarkAlone", "\xFF\xFE", ""},
    {"Utf16TwoByteCharacter", Bytes("\xFF\xFE\xE9\0"), "\xC3\xA9"},                 // e acute
    {"Utf16ThreeByteCharacter", Bytes("\xFE\xFF\x20\xAC"), "\xE2\x82\xAC"},         // euro sign
    {"Utf16SurrogatePair", Bytes("\xFF\xFE\x3D\xD8\x00\xDE"), "\xF0\x9F\x98\x80"},  // U+1F600
    {"Utf16HighSurrogateAlone",
     Bytes("\xFF\xFE\x3D\xD8"
           "A\0"),
     "\xEF\xBF\xBD"
     "A"},
    {"Utf16HighSurrogateLast",
     Bytes("\xFF\xFE"
           "A\0\x3D\xD8"),
     "A\xEF\xBF\xBD"},
    {"Utf16LowSurrogateAlone",
     Bytes("\xFF\xFE\x00\xDE"
           "A\0"),
     "\xEF\xBF\xBD"
     "A"},
    {"Utf16OddLastByte",
     Bytes("\xFF\xFE"
           "A\0B"),
     "A\xEF\xBF\xBD"},
};

INSTANTIATE_TEST_SUITE_P(Table, ScenarioDecoding, ::testing::ValuesIn(kDecodeCases), RowName());

// ---------------------------------------------------------------------------------------------
// Every way a dump is saved reads as the same scenario as the plain text.

const std::string kSavedDump =
    "CPU:\n"
    "   0x00000000 0x00: eax=0x00000001 ebx=0x68747541 ecx=0x444d4163 edx=0x69746e65\n"
    "CPUID 80000000: 80000004-00000000-00000000-00000000\n"
    "@tick-step 16\n";

struct SavedFormCase {
    const char* name;
    std::function<std::string(const std::string&)> save;
};

class ScenarioSavedForm : public ::testing::TestWithParam<SavedFormCase> {};

TEST_P(ScenarioSavedForm, ReadsAsThePlainText) {
    Scenario plain;
    ASSERT_TRUE(ParseScenario(kSavedDump, plain).ok);
    Scenario saved;
    const ScenarioResult result = ReadScenarioBytes(GetParam().save(kSavedDump), saved);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(saved.leaves.size(), plain.leaves.size());
    for (const auto& [leaf, regs] : plain.leaves) {
        ExpectLeaf(saved, {leaf, regs});
    }
    EXPECT_EQ(saved.tickStep, plain.tickStep);
}

std::string Utf16Little(const std::string& text) {
    return AsciiAsUtf16WithMark(text, Utf16Order::kLittleEndian);
}
std::string Utf16Big(const std::string& text) {
    return AsciiAsUtf16WithMark(text, Utf16Order::kBigEndian);
}

const SavedFormCase kSavedFormCases[] = {
    {"Utf8Lf", [](const std::string& text) { return text; }},
    {"Utf8Crlf", WithCrlf},
    {"Utf8MarkLf", WithUtf8ByteOrderMark},
    {"Utf8MarkCrlf", [](const std::string& text) { return WithUtf8ByteOrderMark(WithCrlf(text)); }},
    {"Utf16LittleEndianCrlf", [](const std::string& text) { return Utf16Little(WithCrlf(text)); }},
    {"Utf16LittleEndianLf", Utf16Little},
    {"Utf16BigEndianCrlf", [](const std::string& text) { return Utf16Big(WithCrlf(text)); }},
    {"Utf16BigEndianLf", Utf16Big},
};

INSTANTIATE_TEST_SUITE_P(Table, ScenarioSavedForm, ::testing::ValuesIn(kSavedFormCases), RowName());

// ---------------------------------------------------------------------------------------------
// Files with no line to replay are refused as a whole; directives alone are a scenario.

struct NothingToReplayCase {
    const char* name;
    std::string bytes;
};

class ScenarioNothingToReplay : public ::testing::TestWithParam<NothingToReplayCase> {};

TEST_P(ScenarioNothingToReplay, IsRefusedAsAWhole) {
    Scenario scenario;
    const ScenarioResult result = ReadScenarioBytes(GetParam().bytes, scenario);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.errorLine, 0);
    EXPECT_FALSE(result.error.empty());
}

const std::string kReportInsteadOfDump =
    "VenderID  AuthenticAMD\nCpuName   AMD EPYC\nTypeID 0, FamilyID 15, ModelID 1, SteppingID 1\n"
    "CpuClock 2596.1MHz\n\nCPUID       1\nCPUIDMax    1c\nCPUIDExtMax 80000021\nFPU    1\n"
    "TSC    1\nMSR    1\nCMOV   1\nMMX    1\n3DNow! 0\nSSE_INT    1\nSSE_FP     1\n"
    "3DNow! Ext 0\nFCMOV      1\n";

const NothingToReplayCase kNothingToReplayCases[] = {
    {"Empty", ""},
    {"BlankLines", "\r\n\n  \n"},
    {"HeaderOnly", "CPU:\r\n"},
    {"CommentsOnly", "# an Athlon\n# no answers recorded\n"},
    {"ReportInsteadOfDump", kReportInsteadOfDump},
    {"ReportSavedAsUtf16", Utf16Little(WithCrlf(kReportInsteadOfDump))},
    {"Utf8MarkAlone", "\xEF\xBB\xBF"},
    {"Utf16MarkAlone", "\xFF\xFE"},
    // Without its mark, UTF-16 has a NUL byte between every two characters: no line reads.
    {"Utf16WithoutMark",
     AsciiAsUtf16(WithCrlf("CPUID 00000000: 00000001-68747541-444D4163-69746E65\n@no-cpuid\n"),
                  Utf16Order::kLittleEndian)},
    {"Utf16MarkInTheWrongOrder",
     AsciiAsUtf16WithMark("CPUID 00000000: 00000001-68747541-444D4163-69746E65\n",
                          Utf16Order::kLittleEndian)
         .replace(0, 2, "\xFE\xFF")},
};

INSTANTIATE_TEST_SUITE_P(Table, ScenarioNothingToReplay, ::testing::ValuesIn(kNothingToReplayCases),
                         RowName());

struct DirectivesAloneCase {
    const char* name;
    std::string bytes;
    bool idBitCanChange;
    uint64_t tickStep;
};

class ScenarioDirectivesAlone : public ::testing::TestWithParam<DirectivesAloneCase> {};

TEST_P(ScenarioDirectivesAlone, AreAScenarioWithoutLeaves) {
    const DirectivesAloneCase& row = GetParam();
    Scenario scenario;
    const ScenarioResult result = ReadScenarioBytes(row.bytes, scenario);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(scenario.leaves.empty());
    EXPECT_EQ(scenario.idBitCanChange, row.idBitCanChange);
    EXPECT_EQ(scenario.tickStep, row.tickStep);
}

const DirectivesAloneCase kDirectivesAloneCases[] = {
    {"NoCpuid", "@no-cpuid\n", false, 1},
    {"NoCpuidAsDumped", "CPU:\r\n@no-cpuid\r\n", false, 1},
    {"NoCpuidInUtf16", Utf16Little("CPU:\r\n@no-cpuid\r\n"), false, 1},
    {"ClockOnly", "# every leaf answers zeros\n@tick-step 16\n", true, 16},
};

INSTANTIATE_TEST_SUITE_P(Table, ScenarioDirectivesAlone, ::testing::ValuesIn(kDirectivesAloneCases),
                         RowName());

// A malformed directive in a UTF-16 file is named by its line, as in a UTF-8 one.
TEST(ScenarioBytes, MalformedDirectiveInUtf16NamesItsLine) {
    Scenario scenario;
    const ScenarioResult result = ReadScenarioBytes(Utf16Big("CPU:\r\n@tick-step 0\r\n"), scenario);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.errorLine, 2);
}

// ---------------------------------------------------------------------------------------------
// Directives of a disturbed or broken tick count, which leave the other clocks as they were.

struct TickDirectiveCase {
    const char* name;
    const char* text;
    bool tickReadable;
    uint64_t tickStopsAtMs;
    std::vector<LateRead> lateReads;
    std::vector<StepChange> stepChanges = {};
    uint64_t readNs = 0;
};

class TickDirective : public ::testing::TestWithParam<TickDirectiveCase> {};

TEST_P(TickDirective, SetsItsValue) {
    const TickDirectiveCase& row = GetParam();
    Scenario scenario;
    const ScenarioResult result = ParseScenario(row.text, scenario);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(scenario.tickReadable, row.tickReadable);
    EXPECT_EQ(scenario.tickStopsAtMs, row.tickStopsAtMs);
    ASSERT_EQ(scenario.lateReads.size(), row.lateReads.size());
    for (std::size_t i = 0; i < row.lateReads.size(); ++i) {
        EXPECT_EQ(scenario.lateReads[i].read, row.lateReads[i].read) << "late read " << i;
        EXPECT_EQ(scenario.lateReads[i].atMs, row.lateReads[i].atMs) << "late read " << i;
        EXPECT_EQ(scenario.lateReads[i].lateMs, row.lateReads[i].lateMs) << "late read " << i;
        EXPECT_EQ(scenario.lateReads[i].lateNs, row.lateReads[i].lateNs) << "late read " << i;
    }
    ASSERT_EQ(scenario.stepChanges.size(), row.stepChanges.size());
    for (std::size_t i = 0; i < row.stepChanges.size(); ++i) {
        EXPECT_EQ(scenario.stepChanges[i].atMs, row.stepChanges[i].atMs) << "step change " << i;
        EXPECT_EQ(scenario.stepChanges[i].stepMs, row.stepChanges[i].stepMs) << "step change " << i;
    }
    EXPECT_EQ(scenario.readNs, row.readNs);
    EXPECT_TRUE(scenario.idBitCanChange);
    EXPECT_EQ(scenario.tickStep, 1u);
}

constexpr SimulatedRead kTick = SimulatedRead::kTick;
constexpr SimulatedRead kCounter = SimulatedRead::kCounter;

const TickDirectiveCase kTickDirectiveCases[] = {
    {"None", "CPU:\n", true, kTickNeverStops, {}},
    {"TickUnreadable", "@tick-unreadable\n", false, kTickNeverStops, {}},
    {"TickStops", "@tick-stops 300\n", true, 300, {}},
    {"TickLate", "@tick-late 500 3\n", true, kTickNeverStops, {{kTick, 500, 3}}},
    {"CounterLateHexAndTab",
     "@counter-late 0x1F4\t0x14\r\n",
     true,
     kTickNeverStops,
     {{kCounter, 500, 20}}},
    {"LateReadsInFileOrder",
     "@counter-late 9 8\n@tick-late 7 6\n@tick-late 5 4\n",
     true,
     kTickNeverStops,
     {{kCounter, 9, 8}, {kTick, 7, 6}, {kTick, 5, 4}}},
    // MS to the nanosecond: up to six decimals.
    {"LateByAFraction",
     "@tick-late 501 0.6\n@counter-late 16 2.000001\n@tick-late 0 12.50\n",
     true,
     kTickNeverStops,
     {{kTick, 501, 0, 600000}, {kCounter, 16, 2, 1}, {kTick, 0, 12, 500000}}},
    {"ReadNs", "@tsc-per-ms 5\n@read-ns 0xFA\r\n", true, kTickNeverStops, {}, {}, 250},
    {"StepChangesInFileOrder",
     "@tick-step-from 200 16\n@tick-step-from 0x10\t1\n",
     true,
     kTickNeverStops,
     {},
     {{200, 16}, {16, 1}}},
};

INSTANTIATE_TEST_SUITE_P(Table, TickDirective, ::testing::ValuesIn(kTickDirectiveCases), RowName());

const MalformedCase kMalformedTickCases[] = {
    {"TickLateOneNumber", "@tick-late 500\n", 1},
    {"TickLateThreeNumbers", "@tick-late 500 3 1\n", 1},
    {"TickLateNoBlankBetween", "@tick-late 500,3\n", 1},
    {"TickLateAfterGoodOnes", "@tick-late 1 2\n@counter-late 3 4\n@tick-late x 5\n", 3},
    {"StepChangeOneNumber", "@tick-step-from 200\n", 1},
    {"StepChangeToZero", "@tick-step-from 200 0\n", 1},
    {"StepChangeToZeroIn32Bits", "@tick-step-from 200 0x100000000\n", 1},
    {"LatePointWithoutDecimals", "@tick-late 1 0.\n", 1},
    {"LateBeyondTheNanosecond", "@counter-late 1 0.1234567\n", 1},
    {"LateHexWithDecimals", "@tick-late 1 0x1.8\n", 1},
    {"LateAtWithDecimals", "@tick-late 1.5 2\n", 1},
    {"StepChangeWithDecimals", "@tick-step-from 200 1.5\n", 1},
    // Reads that take no time are the default, not a read time.
    {"ReadNsZero", "@read-ns 0\n", 1},
};

INSTANTIATE_TEST_SUITE_P(Tick, ScenarioMalformed, ::testing::ValuesIn(kMalformedTickCases),
                         RowName());

}  // namespace
