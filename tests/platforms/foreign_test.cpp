// The tool as built for another platform (another processor model, 32-bit x86, aarch64,
// Windows, DOS), run from this machine through that platform's emulator: qemu-user, Wine or
// DOSBox. Each build's CTest tests pick the checks that fit its platform (--gtest_filter).
//
// usage: cpuprobe_foreign_test [GTEST FLAGS] OPTION... -- EMULATOR [ARGUMENT...]
//   --tool PATH, --dumper PATH, --sim PATH   the foreign cpuprobe, cpuprobe-dump, cpuprobe-sim
//   --host DIR           this machine's own cpuprobe and cpuprobe-sim
//   --crlf               the foreign programs end their lines in CR LF
//   --path-prefix TEXT   what a path of this machine needs in front of it there (Wine: Z:)
//   --show LINE          a line the report must show, blanks after its label taken as one
//   --clock TEXT         the clock the report must show ("CpuClock 20.0MHz")
//   --recorded FILE      a recorded report of the same processor the report must agree with
//   --no-x87-in LOG      the emulator's log of the instructions it ran: none may be x87
//   --processors DIR     the recorded processors, for the foreign simulator
//   --readme FILE        the download's README, whose cmd.exe lines are run as printed
#include <fcntl.h>
#include <pty.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/simulated_processor.h"
#include "tests/support/posix_regex.h"
#include "tests/support/process.h"
#include "tests/support/report_cases.h"
#include "tests/support/report_shape.h"
#include "tests/support/saved_text.h"
#include "tests/support/watch.h"

namespace fs = std::filesystem;

namespace {

struct Options {
    std::vector<std::string> emulator;
    std::string tool, dumper, sim, host, pathPrefix, clock, recorded, x87Log, processors, readme;
    bool crlf = false;
    std::vector<std::string> shownLines;
};

Options& Given() {
    static Options options;
    return options;
}

// --- running the foreign programs -------------------------------------------------------

Command Foreign(const std::string& program) {
    Command command;
    command.argv = Given().emulator;
    command.argv.push_back(program);
    return command;
}

ProcessResult RunForeign(const std::string& program, const std::string& input = "") {
    return RunProcess(Foreign(program), input);
}

// What the foreign simulator prints for a file of this machine.
ProcessResult ReplayForeign(const std::string& path) {
    Command command = Foreign(Given().sim);
    command.environment[kScenarioVariable] = Given().pathPrefix + path;
    return RunProcess(command, "");
}

ProcessResult RunHost(const std::string& program) {
    Command command;
    command.argv = {Given().host + "/" + program};
    return RunProcess(command, "");
}

// The text with every "\r\n" as "\n"; false where a line ends in a bare "\n" though the
// platform ends its lines in "\r\n".
bool AsLines(const std::string& text, std::string& lines) {
    if (!Given().crlf) {
        lines = text;
        return true;
    }
    return FromTerminalLines(text, lines);
}

std::string Lines(const std::string& text) {
    std::string lines;
    EXPECT_TRUE(AsLines(text, lines)) << "a line does not end in CR LF:\n" << text;
    return lines;
}

std::string Collapsed(const std::string& line) { return ReplaceAll(line, "  +", " "); }

void ExpectClockFitsTheCounter(const std::string& report) {
    const std::vector<std::string> lines = SplitLines(report);
    const std::string clock = lines.at(ReportLineOf("CpuClock"));
    if (ReportValue(lines, "TSC") == "0") {
        EXPECT_EQ(clock, "CpuClock 0.0MHz");
    } else {
        EXPECT_TRUE(MatchesWhole(clock, "CpuClock [1-9][0-9]*\\.[0-9]MHz")) << clock;
    }
}

// Every x87 instruction in a qemu -d in_asm log: each line an address, the instruction's
// bytes, its prefixes and its mnemonic.
std::set<std::string> X87Instructions(const std::string& log) {
    std::set<std::string> found;
    std::istringstream lines(log);

    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || !MatchesWhole(word, "0x[0-9a-f]+:")) {
            continue;
        }
        while (words >> word && MatchesWhole(word, "[0-9a-f]{2}|lock|rep[a-z]*|data16")) {
        }
        if (word.rfind('f', 0) == 0 || word == "wait") {
            found.insert(word);
        }
    }
    return found;
}

// --- the checks -------------------------------------------------------------------------

TEST(Foreign, EndsAtEndOfInputWithAWellFormedReport) {
    const ProcessResult tool = RunForeign(Given().tool);
    ASSERT_TRUE(tool.exit.exited) << "ended by signal " << tool.exit.signal << ": " << tool.err;
    EXPECT_EQ(tool.exit.status, 0) << tool.err;
    const std::string report = Lines(tool.out);
    EXPECT_TRUE(IsWellFormedReport(report)) << tool.out << tool.err;
    ExpectClockFitsTheCounter(report);
    if (!Given().clock.empty()) {
        EXPECT_EQ(SplitLines(report).at(ReportLineOf("CpuClock")), Given().clock);
    }
}

TEST(Foreign, AgreesWithItsOwnDumpReplayed) {
    const ProcessResult tool = RunForeign(Given().tool);
    const std::string x87 = Given().x87Log.empty() ? "" : ReadWholeFile(Given().x87Log);
    const ProcessResult dump = RunForeign(Given().dumper);
    ASSERT_EQ(dump.exit.status, 0) << "cpuprobe-dump: " << dump.err;
    const std::string report = Lines(tool.out);
    const ProcessResult replay =
        ReplayDump(Given().host + "/cpuprobe-sim", Lines(dump.out), "foreign");

    EXPECT_EQ(ReportLinesButClock(report), ReportLinesButClock(replay.out))
        << "the report:\n"
        << report << "the dump:\n"
        << dump.out << replay.err;
    ExpectClockFitsTheCounter(report);
    std::vector<std::string> collapsed;
    for (const std::string& line : SplitLines(report)) {
        collapsed.push_back(Collapsed(line));
    }
    for (const std::string& shown : Given().shownLines) {
        EXPECT_NE(std::find(collapsed.begin(), collapsed.end(), shown), collapsed.end())
            << "no line \"" << shown << "\" in\n"
            << report;
    }
    if (!Given().recorded.empty()) {
        EXPECT_EQ(ReportLinesButClock(report), ReportLinesButClock(ReadWholeFile(Given().recorded)))
            << Given().recorded;
    }
    if (!Given().x87Log.empty()) {
        EXPECT_FALSE(x87.empty()) << "no instruction log in " << Given().x87Log;
        EXPECT_EQ(X87Instructions(x87), std::set<std::string>{});
    }
}

// A run's clock is off only where the machine held it up unseen: the lowest of a few runs of
// each is the least disturbed. At least three runs each, and up to twelve while they differ.
constexpr double kClockTolerancePercent = 2.0;
constexpr int kClockMinRuns = 3;
constexpr int kClockMaxRuns = 12;

double LowestClock(const std::vector<double>& clocks) {
    return *std::min_element(clocks.begin(), clocks.end());
}

double Megahertz(const std::string& report) {
    return std::stod(ReportValue(SplitLines(report), "CpuClock"));
}

TEST(Foreign, DescribesTheProcessorTheHostToolSees) {
    std::vector<double> foreignClocks, hostClocks;
    double apart = 100.0;
    for (int run = 1;
         run <= kClockMaxRuns && (run <= kClockMinRuns || apart > kClockTolerancePercent); ++run) {
        const std::string foreign = Lines(RunForeign(Given().tool).out);
        const std::string host = RunHost("cpuprobe").out;
        ASSERT_TRUE(IsWellFormedReport(foreign)) << foreign;
        ASSERT_TRUE(IsWellFormedReport(host)) << host;
        if (run == 1) {
            EXPECT_EQ(ReportLinesButClock(foreign), ReportLinesButClock(host));
        }
        foreignClocks.push_back(Megahertz(foreign));
        hostClocks.push_back(Megahertz(host));
        apart = std::abs(LowestClock(foreignClocks) / LowestClock(hostClocks) - 1.0) * 100.0;
    }
    EXPECT_LE(apart, kClockTolerancePercent)
        << "lowest clocks " << LowestClock(foreignClocks) << " and " << LowestClock(hostClocks)
        << " MHz after " << foreignClocks.size() << " runs each";
}

// Standard output redirected to a file holds nothing while the tool waits for its character,
// and the whole report once it has it.
TEST(Foreign, HoldsARedirectedReportUntilTheCharacter) {
    if (!CanSeeChildSystemCalls()) {
        GTEST_SKIP() << "this system hides /proc/PID/syscall, which shows the tool waiting";
    }
    int input[2];
    ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
    const std::string outPath = WriteTempFile("held.txt", "");
    const int out = open(outPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const pid_t pid = StartProcess(Foreign(Given().tool), input[0], out, -1);
    close(out);

    const bool waited = WaitUntilAnyThreadReads(pid, input[0]);
    close(input[0]);
    const std::string before = ReadWholeFile(outPath);
    EXPECT_EQ(write(input[1], "x", 1), 1);
    close(input[1]);
    const std::optional<ProcessExit> exit = WaitWithPatience(pid);
    const std::string after = ReadWholeFile(outPath);
    std::remove(outPath.c_str());

    EXPECT_TRUE(waited) << "it never sat reading its input";
    EXPECT_EQ(before, "") << "the report reached the file before the character";
    ASSERT_TRUE(exit.has_value()) << "it did not end after its character";
    EXPECT_TRUE(IsWellFormedReport(Lines(after))) << after;
}

// The dump as Windows PowerShell 5.1 saves `cpuprobe-dump.exe > dump.txt` (UTF-16 after a
// byte-order mark) and as PowerShell 7 and cmd.exe do (the program's own bytes): the foreign
// simulator reads each as the processor the tool describes.
TEST(Foreign, DumpReplaysAsEachShellSavesIt) {
    const std::string report = Lines(RunForeign(Given().tool).out);
    const std::string dump = RunForeign(Given().dumper).out;
    const std::string saved[] = {AsciiAsUtf16WithMark(dump, Utf16Order::kLittleEndian), dump};
    for (const std::string& bytes : saved) {
        const std::string path = WriteTempFile("saved-dump.txt", bytes);
        const ProcessResult replay = ReplayForeign(path);
        std::remove(path.c_str());
        EXPECT_EQ(ReportLinesButClock(Lines(replay.out)), ReportLinesButClock(report))
            << replay.err;
    }
}

// A folder of its own holding the foreign programs, as a user unpacks them.
fs::path FolderWithPrograms(const std::string& name) {
    fs::path folder = fs::path(testing::TempDir()) / (name + "-" + std::to_string(getpid()));
    fs::create_directories(folder);
    for (const std::string& program : {Given().tool, Given().dumper}) {
        fs::copy_file(program, folder / fs::path(program).filename(),
                      fs::copy_options::overwrite_existing);
    }
    return folder;
}

// The lines the README gives for cmd.exe, run by cmd in a folder holding the programs.
TEST(Foreign, ReadmeCommandLinesRunAsPrinted) {
    std::string readme = ReadWholeFile(Given().readme);
    readme.erase(std::remove(readme.begin(), readme.end(), '\r'), readme.end());
    std::set<std::string> lines;
    for (const std::string& line :
         AllMatches(readme, "cpuprobe(-dump)?\\.exe [<>][^ \n]+( [<>][^ \n]+)?")) {
        lines.insert(line);
    }
    ASSERT_EQ(lines, (std::set<std::string>{"cpuprobe.exe <nul >report.txt",
                                            "cpuprobe-dump.exe >dump.txt"}))
        << Given().readme;
    const fs::path folder = FolderWithPrograms("cmd");
    for (const std::string& line : lines) {
        Command cmd = Foreign("cmd");
        cmd.argv.insert(cmd.argv.end(), {"/c", line});
        cmd.directory = folder.string();
        EXPECT_EQ(RunProcess(cmd, "").exit.status, 0) << line;
    }
    const std::string report = Lines(ReadWholeFile((folder / "report.txt").string()));
    EXPECT_TRUE(IsWellFormedReport(report)) << report;
    const ProcessResult replay = ReplayForeign((folder / "dump.txt").string());
    EXPECT_EQ(ReportLinesButClock(Lines(replay.out)), ReportLinesButClock(report));
    fs::remove_all(folder);
}

// What a console showed, without its escape sequences and blanks (Wine draws its console
// with both).
std::string Bare(const std::string& shown) {
    return ReplaceAll(shown, "\x1b\\[[0-9;?]*[A-Za-z]|[ \r\n]", "");
}

// Wine's console reads its keys from a terminal it has switched out of line editing, and drops
// whatever came before: a key is pressed once it has.
bool WaitUntilTheTerminalIsRaw(int terminal) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    termios mode{};
    while (tcgetattr(terminal, &mode) == 0 && (mode.c_lflag & ICANON) != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        sched_yield();
    }
    return true;
}

// A double click gives cpuprobe-dump.exe a console of its own, here on a terminal: it must
// leave cpuprobe-dump.txt beside itself (not where it was started), holding the report and the
// dump, say where, and end on Enter, which a console reads as a carriage return.
TEST(Foreign, DumperLeavesItsFileBesideItselfOnAConsole) {
    const fs::path folder = FolderWithPrograms("console");
    int master = -1, terminal = -1;
    ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(terminal, F_SETFD, FD_CLOEXEC);
    Command dumper = Foreign((folder / fs::path(Given().dumper).filename()).string());
    dumper.terminalSession = true;
    const pid_t pid = StartProcess(dumper, terminal, terminal, -1);
    close(terminal);
    const std::string shown = ReadUntil(master, [](const std::string& arrived) {
        return Bare(arrived).find("PressEntertoclose.") != std::string::npos;
    });
    EXPECT_FALSE(HasExited(pid)) << "it ended before Enter";
    EXPECT_TRUE(WaitUntilTheTerminalIsRaw(master)) << "the console never read a key";
    EXPECT_EQ(write(master, "\r", 1), 1);
    const std::optional<ProcessExit> exit = WaitWithPatience(pid);
    close(master);
    ASSERT_TRUE(exit.has_value()) << "it did not end on Enter; it showed:\n" << shown;
    EXPECT_NE(Bare(shown).find("cpuprobe-dump.txt"), std::string::npos) << shown;

    const std::string file = ReadWholeFile((folder / "cpuprobe-dump.txt").string());
    const std::string written = Lines(file);
    const std::vector<std::string> lines = SplitLines(written);
    ASSERT_GE(lines.size(), ReportLineCount()) << file;
    std::string report;
    for (std::size_t i = 0; i < ReportLineCount(); ++i) {
        report += lines[i] + "\n";
    }
    const std::string tool = Lines(RunForeign(Given().tool).out);
    EXPECT_EQ(ReportLinesButClock(report), ReportLinesButClock(tool));
    const std::string path = WriteTempFile("console-dump.txt", file);
    EXPECT_EQ(ReportLinesButClock(Lines(ReplayForeign(path).out)), ReportLinesButClock(tool));
    std::remove(path.c_str());
    fs::remove_all(folder);
}

// Every recorded processor through the foreign simulator, with the platform's line ends.
class Recorded : public testing::TestWithParam<ReportCase> {};

TEST_P(Recorded, ForeignSimulatorGivesItsReport) {
    const ProcessResult replay = ReplayForeign(GetParam().inputPath);
    std::string lines;
    EXPECT_TRUE(AsLines(replay.out, lines)) << "a line does not end in CR LF";
    EXPECT_EQ(lines, ReadWholeFile(GetParam().reportPath)) << replay.err;
}

std::vector<ReportCase> RecordedProcessors() {
    return Given().processors.empty() ? std::vector<ReportCase>{}
                                      : FindReportCases(Given().processors, ".txt");
}

INSTANTIATE_TEST_SUITE_P(Processors, Recorded, testing::ValuesIn(RecordedProcessors()),
                         ReportCaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Recorded);

// --- options ----------------------------------------------------------------------------

bool ReadOptions(int argc, char** argv) {
    Options& options = Given();
    std::string* const values[] = {&options.tool,     &options.dumper,     &options.sim,
                                   &options.host,     &options.pathPrefix, &options.clock,
                                   &options.recorded, &options.x87Log,     &options.processors,
                                   &options.readme};
    const char* const names[] = {"--tool",        "--dumper", "--sim",      "--host",
                                 "--path-prefix", "--clock",  "--recorded", "--no-x87-in",
                                 "--processors",  "--readme"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            options.emulator.assign(argv + i + 1, argv + argc);
            return true;
        }
        if (arg.rfind("--gtest_", 0) == 0) {
            continue;  // GoogleTest's own
        }
        if (arg == "--crlf") {
            options.crlf = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        if (arg == "--show") {
            options.shownLines.push_back(value);
            continue;
        }
        const char* const* name = std::find(std::begin(names), std::end(names), arg);
        if (name == std::end(names)) {
            return false;
        }
        *values[name - std::begin(names)] = value;
    }
    return true;
}

}  // namespace

// The options are read first: the recorded processors' tests are made from them as GoogleTest
// starts.
int main(int argc, char** argv) {
    if (!ReadOptions(argc, argv)) {
        std::fprintf(stderr, "cpuprobe_foreign_test: see the usage in foreign_test.cpp\n");
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
