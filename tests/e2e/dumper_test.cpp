// cpuprobe-dump, linked against the simulated processor instead of the real one: what it prints
// for a processor must give that processor's report again when replayed through cpuprobe-sim
// (for every recorded processor: the suite's one path through them), and a garbage highest
// leaf must not make it ask for billions of leaves. Run on a terminal, it must leave a
// bug-report file beside itself that holds the report and replays to it, say where, and wait
// for Enter.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "sim/simulated_processor.h"
#include "tests/support/process.h"
#include "tests/support/report_cases.h"
#include "tests/support/report_shape.h"
#include "tests/support/watch.h"

namespace {

ProcessResult DumpScenarioFile(const std::string& scenarioPath) {
    Command command;
    command.argv = {CPUPROBE_DUMP_SIM_PATH};
    command.environment[kScenarioVariable] = scenarioPath;
    return RunProcess(command, "");
}

ProcessResult DumpScenario(const std::string& name, const std::string& scenario) {
    const std::string path = WriteTempFile(name + ".scenario", scenario);
    ProcessResult result = DumpScenarioFile(path);
    std::remove(path.c_str());
    return result;
}

long CountLinesStartingWith(const std::string& text, const std::string& prefix) {
    const std::vector<std::string> lines = SplitLines(text);
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.compare(0, prefix.size(), prefix) == 0;
    });
}

constexpr const char* kStandardLinePrefix = "   0x0";
constexpr const char* kExtendedLinePrefix = "   0x8";

struct RangeCase {
    const char* name;
    const char* scenario;
    long standardLeaves;
    long extendedLeaves;
};

// Leaf 0 and leaf 0x80000000 are always dumped, since the tool stores what they answer.
const RangeCase kRangeCases[] = {
    {"OnlyLeafZero", "CPUID 00000000: 00000000-756E6547-6C65746E-49656E69\n", 1, 1},
    {"NoExtendedRange",
     "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
     "CPUID 80000000: 00000683-00000000-00000000-00000000\n",
     3, 1},
    {"ExtendedRangeUpToName", "CPUID 80000000: 80000004-00000000-00000000-00000000\n", 1, 5},
    {"GarbageStandardMaximum", "CPUID 00000000: FFFFFFFF-00000000-00000000-00000000\n", 256, 1},
    {"GarbageExtendedMaximum", "CPUID 80000000: FFFFFFFF-00000000-00000000-00000000\n", 1, 256},
};

class DumpRanges : public testing::TestWithParam<RangeCase> {};

TEST_P(DumpRanges, AsksEachLeafOfEachRangeOnceWithinTheCap) {
    const RangeCase& range = GetParam();
    const ProcessResult dump = DumpScenario(range.name, range.scenario);
    ASSERT_TRUE(dump.exit.exited && dump.exit.status == 0) << dump.err;
    EXPECT_EQ(dump.out.rfind("CPU:\n", 0), 0u) << dump.out;
    EXPECT_EQ(CountLinesStartingWith(dump.out, kStandardLinePrefix), range.standardLeaves);
    EXPECT_EQ(CountLinesStartingWith(dump.out, kExtendedLinePrefix), range.extendedLeaves);
}

std::string RangeCaseName(const testing::TestParamInfo<RangeCase>& range) {
    return range.param.name;
}

INSTANTIATE_TEST_SUITE_P(Dumper, DumpRanges, testing::ValuesIn(kRangeCases), RangeCaseName);

TEST(Dumper, SaysSoWhenTheProcessorHasNoCpuid) {
    const ProcessResult dump = DumpScenario("no-cpuid", "@no-cpuid\n");
    EXPECT_EQ(dump.out, "CPU:\n@no-cpuid\n");
}

TEST(Dumper, WritesLeavesInTheRawCpuidForm) {
    const ProcessResult dump =
        DumpScenario("form", "CPUID 00000000: 00000000-756E6547-6C65746E-49656E69\n");
    EXPECT_EQ(SplitLines(dump.out).at(1),
              "   0x00000000 0x00: eax=0x00000000 ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69");
}

// Every recorded processor: dumped by cpuprobe-dump, replayed, it must print its report again,
// with nothing on stderr and a normal end. One test per processor, named after it. Where
// CPUPROBE_PROCESSOR names one file below the processors' folder, only that one runs: so each
// ctest test of build/tests/processors runs one.
class Redumped : public testing::TestWithParam<ReportCase> {};

TEST_P(Redumped, GivesItsReportAgain) {
    const ReportCase& processor = GetParam();
    ASSERT_TRUE(std::filesystem::is_regular_file(processor.reportPath))
        << processor.inputPath << " has no report beside it";
    const ProcessResult dump = DumpScenarioFile(processor.inputPath);
    EXPECT_EQ(dump.err, "");
    const ProcessResult replay = ReplayDump(CPUPROBE_SIM_PATH, dump.out, processor.name);
    EXPECT_EQ(replay.out, ReadWholeFile(processor.reportPath)) << "from " << processor.inputPath;
    EXPECT_EQ(replay.err, "");
    EXPECT_TRUE(replay.exit.exited && replay.exit.status == 0) << "status " << replay.exit.status;
}

std::vector<ReportCase> ProcessorsToRun() {
    const char* one = std::getenv("CPUPROBE_PROCESSOR");
    if (one != nullptr) {
        return {ReportCaseFor(CPUPROBE_PROCESSORS_PATH, one)};
    }
    return FindReportCases(CPUPROBE_PROCESSORS_PATH, ".txt");
}

INSTANTIATE_TEST_SUITE_P(Processors, Redumped, testing::ValuesIn(ProcessorsToRun()),
                         ReportCaseName);

// ---------------------------------------------------------------------------------------------
// On a terminal: the bug-report file a double click leaves.

namespace fs = std::filesystem;

constexpr const char* kBugReportFileName = "cpuprobe-dump.txt";
constexpr const char* kEnterPrompt = "Press Enter to close.";

struct TerminalRun {
    std::string shown;      // what the terminal showed, "\r\n" as "\n"
    bool crlfOnly = false;  // every line the terminal showed ended in "\r\n"
    bool waitedForEnter = false;
    bool enterSent = false;
    std::optional<ProcessExit> exit;
    std::string err;
};

// Runs the dumper from its own fresh folder (so that the file it leaves is its own), with a
// terminal as its stdin and stdout, and presses Enter once it asks for it.
TerminalRun RunOnTerminal(const fs::path& folder, const std::string& scenarioPath) {
    fs::create_directories(folder);
    const fs::path dumper = folder / "cpuprobe-dump";
    fs::copy_file(CPUPROBE_DUMP_SIM_PATH, dumper, fs::copy_options::overwrite_existing);
    int master = -1;
    int terminal = -1;
    if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) {
        return {};
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(terminal, F_SETFD, FD_CLOEXEC);
    const std::string errPath = (folder / "stderr").string();
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    Command command;
    command.argv = {dumper.string()};
    command.environment[kScenarioVariable] = scenarioPath;
    const pid_t pid = StartProcess(command, terminal, terminal, err);
    close(terminal);
    close(err);

    TerminalRun run;
    const std::string raw = ReadUntil(master, [](const std::string& arrived) {
        return arrived.find(kEnterPrompt) != std::string::npos;
    });
    // Where the wait cannot be seen, the prompt's arrival before any input still shows it.
    run.waitedForEnter =
        !HasExited(pid) && (!CanSeeChildSystemCalls() || WaitUntilReadingStdin(pid));
    run.enterSent = write(master, "\n", 1) == 1;
    run.exit = WaitWithPatience(pid);
    close(master);
    run.crlfOnly = FromTerminalLines(raw, run.shown);
    run.err = ReadWholeFile(errPath);
    return run;
}

// The report's lines at the start of a text, each with its "\n" (a file written on Windows would
// have
// "\r\n"; this one is written on Linux).
std::string FirstReportLines(const std::string& text) {
    std::size_t end = 0;
    for (std::size_t line = 0; line < ReportLineCount() && end != std::string::npos; ++line) {
        end = text.find('\n', end);
        end = end == std::string::npos ? end : end + 1;
    }
    return text.substr(0, end);
}

struct BugReportCase {
    const char* name;
    const char* scenario;  // below tests/, the processor the simulated dumper runs on
    const char* report;    // below tests/, the report that processor gives
};

const BugReportCase kBugReportCases[] = {
    {"RecordedProcessor", "data/processors/linux-cpuid-r/qemu-phenom.txt",
     "data/processors/linux-cpuid-r/qemu-phenom.report"},
    {"NoCpuid", "scenarios/no-cpuid.scenario", "scenarios/no-cpuid.report"},
};

class DumperOnTerminal : public testing::TestWithParam<BugReportCase> {};

TEST_P(DumperOnTerminal, LeavesAReportThatReplaysBesideItselfAndWaits) {
    const fs::path tests = CPUPROBE_TESTS_PATH;
    const std::string scenario = (tests / GetParam().scenario).string();
    const std::string report = ReadWholeFile((tests / GetParam().report).string());
    const fs::path folder = fs::path(testing::TempDir()) /
                            ("dumper-" + std::to_string(getpid()) + "-" + GetParam().name);
    const TerminalRun run = RunOnTerminal(folder, scenario);
    const fs::path file = folder / kBugReportFileName;

    ASSERT_TRUE(run.exit.has_value()) << "it did not end after Enter; it showed:\n" << run.shown;
    EXPECT_TRUE(run.exit->exited);
    EXPECT_EQ(run.exit->status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.waitedForEnter);
    EXPECT_TRUE(run.enterSent);
    EXPECT_TRUE(run.crlfOnly);
    EXPECT_EQ(run.shown.rfind(report, 0), 0u) << "the screen does not start with the report:\n"
                                              << run.shown;
    EXPECT_NE(run.shown.find(file.string()), std::string::npos) << run.shown;

    const std::string written = ReadWholeFile(file.string());
    EXPECT_EQ(FirstReportLines(written), report);
    // After the report, the very dump that a redirection gets.
    const ProcessResult redirected = DumpScenarioFile(scenario);
    EXPECT_NE(written.find(redirected.out, report.size()), std::string::npos) << written;
    EXPECT_EQ(ReplayDump(CPUPROBE_SIM_PATH, written, GetParam().name).out, report);
    fs::remove_all(folder);
}

std::string BugReportCaseName(const testing::TestParamInfo<BugReportCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Dumper, DumperOnTerminal, testing::ValuesIn(kBugReportCases),
                         BugReportCaseName);

// Where the file cannot be written (here a folder stands in its way), the window says so,
// names the file and the way round it, and still waits, so that the message can be read.
TEST(Dumper, SaysOnATerminalWhenItCannotWriteAndStillWaits) {
    const fs::path folder =
        fs::path(testing::TempDir()) / ("dumper-" + std::to_string(getpid()) + "-blocked");
    fs::create_directories(folder / kBugReportFileName);
    const TerminalRun run =
        RunOnTerminal(folder, std::string(CPUPROBE_TESTS_PATH) + "/scenarios/no-cpuid.scenario");

    ASSERT_TRUE(run.exit.has_value()) << "it did not end after Enter; it showed:\n" << run.shown;
    EXPECT_TRUE(run.exit->exited);
    EXPECT_NE(run.exit->status, 0);
    EXPECT_TRUE(run.waitedForEnter);
    EXPECT_NE(run.shown.find("could not write " + (folder / kBugReportFileName).string()),
              std::string::npos)
        << run.shown;
    EXPECT_NE(run.shown.find("cpuprobe-dump > dump.txt"), std::string::npos) << run.shown;
    fs::remove_all(folder);
}

}  // namespace
