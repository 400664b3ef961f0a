// The real tool on this machine (Linux, x86): the report's shape, its identity lines against
// what the system and the cpuid utility say, and how it waits for its one character with a
// file, a pipe and a terminal around it. Each run spins 500 ms, so there are few of them.
#include <fcntl.h>
#include <pty.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "tests/support/process.h"
#include "tests/support/report_shape.h"
#include "tests/support/watch.h"

namespace {

const std::string kToolPath = CPUPROBE_PATH;
const std::string kStaticToolPath = CPUPROBE_STATIC_PATH;

// Leaf 1 EAX, the processor signature.
constexpr int kSteppingShift = 0;
constexpr int kModelShift = 4;
constexpr int kFamilyShift = 8;
constexpr int kTypeShift = 12;
constexpr uint32_t kNibbleMask = 0xF;
constexpr uint32_t kTypeMask = 0x3;

Command ToolProgram() {
    Command program;
    program.argv = {kToolPath};
    return program;
}

int OpenOrThrow(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + path);
    }
    return fd;
}

// Whether this process, and so a tool it starts, may read the time-stamp counter: a sandbox
// can forbid it (prctl PR_SET_TSC), and the tool then reports a clock of 0.
bool MayReadTimeStampCounter() {
    int state = PR_TSC_ENABLE;
    return prctl(PR_GET_TSC, &state, 0, 0, 0) != 0 || state != PR_TSC_SIGSEGV;
}

// Reads what the terminal shows until the whole report has arrived.
std::string ReadReportFromTerminal(int master) {
    return ReadUntil(master, [](const std::string& shown) {
        std::size_t lineEnds = 0;
        for (std::size_t at = shown.find("\r\n"); at != std::string::npos;
             at = shown.find("\r\n", at + 2)) {
            ++lineEnds;
        }
        return lineEnds >= ReportLineCount();
    });
}

std::optional<std::string> FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        folder += '/';
        folder += name;
        if (access(folder.c_str(), X_OK) == 0) {
            return folder;
        }
    }
    return std::nullopt;
}

// The value of the first "vendor_id : ..." line of /proc/cpuinfo.
std::string VendorFromCpuinfo() {
    std::istringstream cpuinfo(ReadWholeFile("/proc/cpuinfo"));
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("vendor_id", 0) == 0) {
            const std::size_t colon = line.find(": ");
            return colon == std::string::npos ? "" : line.substr(colon + 2);
        }
    }
    return "";
}

std::string SignatureLine(uint32_t eax) {
    const auto field = [eax](int shift, uint32_t mask) { return (eax >> shift) & mask; };
    char line[96];
    std::snprintf(line, sizeof line, "TypeID %u, FamilyID %u, ModelID %u, SteppingID %u",
                  field(kTypeShift, kTypeMask), field(kFamilyShift, kNibbleMask),
                  field(kModelShift, kNibbleMask), field(kSteppingShift, kNibbleMask));
    return line;
}

// The tool started with stdin from `in`, its stdout and stderr going to fresh files.
struct StartedTool {
    pid_t pid;
    std::string outPath;
    std::string errPath;
};

StartedTool StartToolIntoFiles(const std::string& name, int in) {
    StartedTool tool{-1, WriteTempFile(name + ".out", ""), WriteTempFile(name + ".err", "")};
    const int out = OpenOrThrow(tool.outPath, O_WRONLY);
    const int err = OpenOrThrow(tool.errPath, O_WRONLY);
    tool.pid = StartProcess(ToolProgram(), in, out, err);
    close(out);
    close(err);
    return tool;
}

void RemoveFiles(const StartedTool& tool) {
    std::remove(tool.outPath.c_str());
    std::remove(tool.errPath.c_str());
}

struct ToolRun {
    ProcessExit exit;
    std::string out;
    std::string err;
};

// One whole run with stdin at its end (/dev/null).
ToolRun RunWithInputAtEnd() {
    const int in = OpenOrThrow("/dev/null", O_RDONLY);
    const StartedTool tool = StartToolIntoFiles("at-end", in);
    close(in);
    ToolRun run;
    run.exit = WaitWithPatience(tool.pid).value_or(ProcessExit{});
    run.out = ReadWholeFile(tool.outPath);
    run.err = ReadWholeFile(tool.errPath);
    RemoveFiles(tool);
    return run;
}

TEST(RealTool, InputAtEndEndsItWithAWellFormedReport) {
    const ToolRun run = RunWithInputAtEnd();
    EXPECT_TRUE(run.exit.exited);
    EXPECT_EQ(run.exit.status, 0);
    EXPECT_EQ(run.err, "");
    ASSERT_TRUE(IsWellFormedReport(run.out)) << run.out;
    const std::vector<std::string> lines = SplitLines(run.out);
    if (ReportValue(lines, "TSC") == "0") {
        GTEST_SKIP() << "the processor reports no time-stamp counter (TSC 0), as some "
                        "hypervisors arrange: there is no clock to measure here";
    }
    if (!MayReadTimeStampCounter()) {
        GTEST_SKIP() << "this process may not read the time-stamp counter (PR_SET_TSC): "
                        "there is no clock to measure here";
    }
    EXPECT_GT(std::stod(ReportValue(lines, "CpuClock")), 0.0) << lines[ReportLineOf("CpuClock")];
}

// Where the system forbids reading the counter, the report still comes, with a clock of 0.
// The static build is run: a dynamically linked program, this one or any other, dies in the
// system's loader there before its main is reached.
TEST(RealTool, ForbiddenCounterGivesAZeroClock) {
    if (kStaticToolPath.empty()) {
        GTEST_SKIP() << "this build has no statically linked tool (sanitizer runtimes cannot be "
                        "linked statically)";
    }
    Command program;
    program.argv = {kStaticToolPath};
    program.forbidTimeStampCounter = true;
    const ProcessResult run = RunProcess(program, "");
    if (run.exit.exited && run.exit.status == 126) {
        GTEST_SKIP() << "this system cannot forbid a process the time-stamp counter";
    }
    EXPECT_TRUE(run.exit.exited) << "ended by signal " << run.exit.signal;
    EXPECT_EQ(run.exit.status, 0);
    EXPECT_EQ(run.err, "");
    ASSERT_TRUE(IsWellFormedReport(run.out)) << run.out;
    EXPECT_EQ(SplitLines(run.out)[ReportLineOf("CpuClock")], "CpuClock 0.0MHz");
}

TEST(RealTool, IdentityAgreesWithTheSystem) {
    const std::optional<std::string> cpuid = FindProgram("cpuid");
    if (!cpuid) {
        GTEST_SKIP() << "the cpuid utility is not installed (Debian package cpuid)";
    }
    Command program;
    program.argv = {*cpuid, "-r", "-1"};
    const ProcessResult dump = RunProcess(program, "");
    ASSERT_EQ(dump.exit.status, 0) << dump.err;
    Scenario answers;
    ASSERT_TRUE(ParseScenario(dump.out, answers).ok);
    ASSERT_EQ(answers.leaves.count(0), 1u) << dump.out;
    ASSERT_EQ(answers.leaves.count(1), 1u) << dump.out;

    const ToolRun run = RunWithInputAtEnd();
    ASSERT_TRUE(IsWellFormedReport(run.out)) << run.out;
    const std::vector<std::string> lines = SplitLines(run.out);
    EXPECT_EQ(ReportValue(lines, "VenderID"), VendorFromCpuinfo());
    EXPECT_EQ(lines[ReportLineOf("TypeID")], SignatureLine(answers.leaves[1].eax));
    char highestLeaf[16];
    std::snprintf(highestLeaf, sizeof highestLeaf, "%x", answers.leaves[0].eax);
    EXPECT_EQ(ReportValue(lines, "CPUIDMax"), highestLeaf);
}

// Into a file the report is held back until the character has arrived, then written whole.
TEST(RealTool, FileStaysEmptyUntilTheCharacterArrives) {
    if (!CanSeeChildSystemCalls()) {
        GTEST_SKIP() << "this system hides a child's /proc/PID/syscall (Yama ptrace_scope, a "
                        "sandbox): the tool cannot be seen waiting for its input";
    }
    int input[2];
    ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
    const StartedTool tool = StartToolIntoFiles("waiting", input[0]);
    close(input[0]);

    const bool waiting = WaitUntilReadingStdin(tool.pid);
    const std::string beforeInput = ReadWholeFile(tool.outPath);
    // The write end stays open until the end, so only the character can have ended the read.
    // A tool that has already ended has closed the read end: writing would raise SIGPIPE.
    const bool sent = waiting && write(input[1], "x", 1) == 1;
    const std::optional<ProcessExit> exit = WaitWithPatience(tool.pid);
    close(input[1]);
    const std::string afterInput = ReadWholeFile(tool.outPath);
    const std::string err = ReadWholeFile(tool.errPath);
    RemoveFiles(tool);

    EXPECT_TRUE(waiting) << "the tool never sat reading its stdin";
    EXPECT_EQ(beforeInput, "");
    EXPECT_TRUE(sent);
    ASSERT_TRUE(exit.has_value()) << "the tool did not end after the character";
    EXPECT_TRUE(exit->exited);
    EXPECT_TRUE(IsWellFormedReport(afterInput));
    EXPECT_EQ(err, "");
}

// On a terminal every line shows as it is written: the whole report is there while the tool
// still waits, and one Enter ends it.
TEST(RealTool, TerminalShowsTheReportBeforeInput) {
    int master = -1;
    int terminal = -1;
    ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(terminal, F_SETFD, FD_CLOEXEC);
    const std::string errPath = WriteTempFile("terminal.err", "");
    const int err = OpenOrThrow(errPath, O_WRONLY);
    const pid_t pid = StartProcess(ToolProgram(), terminal, terminal, err);
    close(terminal);
    close(err);

    const std::string shown = ReadReportFromTerminal(master);
    // Where the wait cannot be seen, the report's arrival before any input still shows it.
    const bool stillWaiting = !CanSeeChildSystemCalls() || WaitUntilReadingStdin(pid);
    const bool sent = write(master, "\n", 1) == 1;
    const std::optional<ProcessExit> exit = WaitWithPatience(pid);
    close(master);

    std::string report;
    EXPECT_TRUE(FromTerminalLines(shown, report)) << "a line ended without \"\\r\\n\"";
    EXPECT_TRUE(IsWellFormedReport(report)) << shown;
    EXPECT_TRUE(stillWaiting) << "the tool did not wait for input";
    EXPECT_TRUE(sent);
    ASSERT_TRUE(exit.has_value()) << "the tool did not end after Enter";
    EXPECT_TRUE(exit->exited);
    EXPECT_EQ(ReadWholeFile(errPath), "");
    std::remove(errPath.c_str());
}

}  // namespace
