// cpuprobe-sim from end to end: each scenario in tests/scenarios gives exactly the report
// written beside it, in whichever encoding a bug reporter's shell saved it, and a scenario
// that cannot be used stops the simulator with one line.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/simulated_processor.h"
#include "tests/support/process.h"
#include "tests/support/report_cases.h"
#include "tests/support/report_shape.h"
#include "tests/support/saved_text.h"

namespace {

const std::string kSimulatorPath = CPUPROBE_SIM_PATH;
const std::string kScenariosFolder = CPUPROBE_SCENARIOS_DIR;
const std::string kProcessorsFolder = CPUPROBE_PROCESSORS_DIR;

class ScenarioFile : public testing::TestWithParam<ReportCase> {};

TEST_P(ScenarioFile, GivesItsReport) { ExpectSimulatorGivesReport(kSimulatorPath, GetParam()); }

// The expected reports are typed by hand: one with a wrong blank would make its test demand
// a wrong report.
TEST_P(ScenarioFile, ExpectedReportIsWellFormed) {
    EXPECT_TRUE(IsWellFormedReport(ReadWholeFile(GetParam().reportPath)));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ScenarioFile,
                         testing::ValuesIn(FindReportCases(kScenariosFolder, ".scenario")),
                         ReportCaseName);

// A report left without its scenario would never be checked.
TEST(ScenarioFolder, EveryReportHasItsScenario) {
    for (const ReportCase& report : FindReportCases(kScenariosFolder, ".report")) {
        std::filesystem::path scenario = report.inputPath;
        scenario.replace_extension(".scenario");
        EXPECT_TRUE(std::filesystem::is_regular_file(scenario)) << report.inputPath;
    }
}

// A dump saved by a shell or an editor on the reporter's machine replays as the dump itself:
// a recorded processor in the cpuid -r form, a hand-written scenario in both leaf forms, and
// one without CPUID, whose only line is a directive.
struct SavedFormCase {
    const char* name;
    std::function<std::string(const std::string&)> save;
};

void PrintTo(const SavedFormCase& form, std::ostream* out) { *out << form.name; }

class SavedDump : public testing::TestWithParam<SavedFormCase> {};

TEST_P(SavedDump, GivesTheReportOfItsText) {
    const ReportCase inputs[] = {
        {"qemu-phenom", kProcessorsFolder + "/linux-cpuid-r/qemu-phenom.txt",
         kProcessorsFolder + "/linux-cpuid-r/qemu-phenom.report"},
        {"mixed-leaf-forms", kScenariosFolder + "/mixed-leaf-forms.scenario",
         kScenariosFolder + "/mixed-leaf-forms.report"},
        {"no-cpuid", kScenariosFolder + "/no-cpuid.scenario",
         kScenariosFolder + "/no-cpuid.report"},
    };
    for (const ReportCase& input : inputs) {
        SCOPED_TRACE(input.inputPath);
        const std::string saved = WriteTempFile(std::string(GetParam().name) + "-" + input.name,
                                                GetParam().save(ReadWholeFile(input.inputPath)));
        ExpectSimulatorGivesReport(kSimulatorPath, {input.name, saved, input.reportPath});
        std::remove(saved.c_str());
    }
}

std::string SavedAsUtf16(const std::string& text, Utf16Order order) {
    return AsciiAsUtf16WithMark(WithCrlf(text), order);
}

const SavedFormCase kSavedFormCases[] = {
    // What cmd.exe's and PowerShell 7's `>` keep of a Windows program's output.
    {"Utf8Crlf", WithCrlf},
    // Notepad's "UTF-8 with BOM".
    {"Utf8WithMarkCrlf",
     [](const std::string& text) { return WithUtf8ByteOrderMark(WithCrlf(text)); }},
    {"Utf8WithMarkLf", WithUtf8ByteOrderMark},
    // Windows PowerShell 5.1's `>`: UTF-16 little-endian with its mark, CRLF.
    {"Utf16LittleEndianWithMarkCrlf",
     [](const std::string& text) { return SavedAsUtf16(text, Utf16Order::kLittleEndian); }},
    {"Utf16BigEndianWithMarkCrlf",
     [](const std::string& text) { return SavedAsUtf16(text, Utf16Order::kBigEndian); }},
    {"Utf16LittleEndianWithMarkLf",
     [](const std::string& text) { return AsciiAsUtf16WithMark(text, Utf16Order::kLittleEndian); }},
};

std::string SavedFormName(const testing::TestParamInfo<SavedFormCase>& form) {
    return form.param.name;
}

INSTANTIATE_TEST_SUITE_P(Encodings, SavedDump, testing::ValuesIn(kSavedFormCases), SavedFormName);

struct UnusableScenario {
    std::string what;
    std::optional<std::string> path;    // the scenario variable's value; unset where missing
    std::vector<std::string> mentions;  // what the one line on stderr must name
    std::string tempFile;               // written for this case, removed after it
};

// A scenario file whose third line is the directive, after a leaf line and a comment.
UnusableScenario BadDirective(const std::string& fileName, const std::string& directive,
                              const std::string& name) {
    const std::string path = WriteTempFile(fileName,
                                           "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69\n"
                                           "# the next line is wrong\n" +
                                               directive + "\n@tsc-per-ms 5\n");
    return {"directive " + directive, path, {path + ":3:", name}, path};
}

// A file with no leaf line and no directive: nothing in it to replay.
UnusableScenario NothingToReplay(const std::string& fileName, const std::string& bytes) {
    const std::string path = WriteTempFile(fileName, bytes);
    return {"nothing to replay in " + fileName, path, {path + ": ", "no CPUID leaf line"}, path};
}

std::vector<UnusableScenario> UnusableScenarios() {
    const std::string missing = testing::TempDir() + "no-such-scenario.scenario";
    std::filesystem::remove(missing);
    return {
        {"variable unset", std::nullopt, {kScenarioVariable}, ""},
        {"missing file", missing, {missing}, ""},
        {"a directory", kScenariosFolder, {kScenariosFolder}, ""},
        BadDirective("step-zero", "@tick-step 0", "@tick-step"),
        BadDirective("step-zero-in-32-bits", "@tick-step 0x100000000", "@tick-step"),
        BadDirective("no-number", "@tsc-per-ms", "@tsc-per-ms"),
        BadDirective("two-numbers", "@tsc-per-ms 1 2", "@tsc-per-ms"),
        BadDirective("negative", "@tick-start -1", "@tick-start"),
        BadDirective("trailing-letters", "@tsc-start 12abc", "@tsc-start"),
        BadDirective("decimal-past-64-bits", "@tsc-start 18446744073709551616", "@tsc-start"),
        BadDirective("hex-past-64-bits", "@tsc-per-ms 0x10000000000000000", "@tsc-per-ms"),
        BadDirective("no-cpuid-value", "@no-cpuid yes", "@no-cpuid"),
        BadDirective("tick-unreadable-value", "@tick-unreadable 1", "@tick-unreadable"),
        BadDirective("late-read-one-number", "@tick-late 500", "@tick-late"),
        BadDirective("step-change-to-zero", "@tick-step-from 200 0", "@tick-step-from"),
        BadDirective("unknown", "@tick-rate 5", "@tick-rate"),
        NothingToReplay("empty.txt", ""),
        NothingToReplay("report.txt",
                        ReadWholeFile(kProcessorsFolder + "/linux-cpuid-r/qemu-phenom.report")),
        NothingToReplay("utf16-without-mark.txt",
                        AsciiAsUtf16(ReadWholeFile(kScenariosFolder + "/no-cpuid.scenario"),
                                     Utf16Order::kLittleEndian)),
    };
}

bool IsOneLine(const std::string& text) {
    return !text.empty() && text.find('\n') == text.size() - 1;
}

TEST(UnusableScenario, StopsWithOneLineNamingTheProblem) {
    for (const UnusableScenario& scenario : UnusableScenarios()) {
        SCOPED_TRACE(scenario.what);
        const ProcessResult result =
            RunSimulator(kSimulatorPath, scenario.path ? &*scenario.path : nullptr);
        EXPECT_TRUE(result.exit.exited);
        EXPECT_EQ(result.exit.status, kScenarioErrorStatus);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(IsOneLine(result.err)) << "stderr: \"" << result.err << "\"";
        for (const std::string& mention : scenario.mentions) {
            EXPECT_NE(result.err.find(mention), std::string::npos)
                << "\"" << result.err << "\" does not name " << mention;
        }
        if (!scenario.tempFile.empty()) {
            std::filesystem::remove(scenario.tempFile);
        }
    }
}

}  // namespace
