// Both executables with standard streams that are closed, full, broken or a terminal. In every
// case the tool must end by itself, normally (never by a signal), and write nothing to stderr.
// Every wait is bounded: a tool that hangs is killed and the test fails.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "sim/simulated_processor.h"
#include "tests/support/process.h"
#include "tests/support/report_shape.h"

namespace {

using Clock = std::chrono::steady_clock;

// Far beyond the half second the tool spins, even under valgrind on a busy machine.
constexpr std::chrono::seconds kGuard{60};

// Family 6, model 3, stepping 3, with FPU, TSC, MSR, CMOV and MMX but no SSE, and no extended
// leaves.
const char* const kScenario =
    "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69\n"
    "CPUID 00000001: 00000633-00000000-00000000-0183F9FF\n";

const char* const kScenarioReport =
    "VenderID  GenuineIntel\nCpuName   \nTypeID 0, FamilyID 6, ModelID 3, SteppingID 3\n"
    "CpuClock 1000.0MHz\n\nCPUID       1\nCPUIDMax    1\nCPUIDExtMax 0\n"
    "FPU    1\nTSC    1\nMSR    1\nCMOV   1\nMMX    1\n3DNow! 0\n"
    "SSE_INT    0\nSSE_FP     0\n3DNow! Ext 0\nFCMOV      1\n";

enum class Streams {
    StdoutClosed,
    StdoutFull,
    StdoutReaderGone,
    StdinClosed,
    StdinEmpty,
    StdinTerminal,
};

struct StreamCase {
    const char* name;
    const char* program;
    bool simulated;  // cpuprobe-sim, answering from kScenario; else the real processor
    Streams streams;
};

// Test names and failure messages show the case by its name.
std::string PrintName(const testing::TestParamInfo<StreamCase>& info) { return info.param.name; }
void PrintTo(const StreamCase& streamCase, std::ostream* out) { *out << streamCase.name; }

// The real tool spins half a second each run, so it gets the cases that matter most for it.
const StreamCase kStreamCases[] = {
    {"SimStdoutClosed", CPUPROBE_SIM_PATH, true, Streams::StdoutClosed},
    {"SimStdoutFull", CPUPROBE_SIM_PATH, true, Streams::StdoutFull},
    {"SimStdoutReaderGone", CPUPROBE_SIM_PATH, true, Streams::StdoutReaderGone},
    {"SimStdinClosed", CPUPROBE_SIM_PATH, true, Streams::StdinClosed},
    {"SimStdinEmpty", CPUPROBE_SIM_PATH, true, Streams::StdinEmpty},
    {"SimStdinTerminal", CPUPROBE_SIM_PATH, true, Streams::StdinTerminal},
    {"ToolStdoutClosed", CPUPROBE_TOOL_PATH, false, Streams::StdoutClosed},
    {"ToolStdoutReaderGone", CPUPROBE_TOOL_PATH, false, Streams::StdoutReaderGone},
    {"ToolStdinTerminal", CPUPROBE_TOOL_PATH, false, Streams::StdinTerminal},
};

// A started tool, and what came back from it so far.
struct Child {
    pid_t pid = -1;
    int errFd = -1;
    int outFd = -1;  // -1 where the test does not read the tool's stdout
    std::string out;
    std::string err;
    Clock::time_point deadline = Clock::now() + kGuard;
};

std::size_t LineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Reads one chunk into the sink; end of file, or EIO from a terminal whose other side has
// gone, closes the descriptor.
void ReadChunk(int& fd, std::string& sink) {
    char chunk[4096];
    const ssize_t count = read(fd, chunk, sizeof chunk);
    if (count > 0) {
        sink.append(chunk, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
    }
}

// Reads stdout and stderr until stdout holds `lines` lines, or both have ended when `lines`
// is 0. False when the guard's deadline passed first.
bool ReadUntil(Child& child, std::size_t lines) {
    while (child.errFd >= 0 || child.outFd >= 0) {
        if (lines > 0 && LineCount(child.out) >= lines) {
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(child.deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd fds[2] = {{child.outFd, POLLIN, 0}, {child.errFd, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            return false;
        }
        if (fds[0].revents != 0) {
            ReadChunk(child.outFd, child.out);
        }
        if (fds[1].revents != 0) {
            ReadChunk(child.errFd, child.err);
        }
    }
    return lines == 0 || LineCount(child.out) >= lines;
}

// Waits for the end of the tool within the guard; one that is still running is killed.
ProcessExit Finish(Child& child, bool& finished) {
    finished = ReadUntil(child, 0);
    if (!finished) {
        kill(child.pid, SIGKILL);
    }
    for (int fd : {child.outFd, child.errFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    return WaitForProcess(child.pid);
}

int OpenOrFail(const char* path, int flags) {
    const int fd = open(path, flags | O_CLOEXEC);
    if (fd < 0) {
        ADD_FAILURE() << "cannot open " << path;
    }
    return fd;
}

// A terminal that neither echoes input nor turns "\n" into "\r\n" on output, so that the
// report's bytes come back unchanged; input still arrives a line at a time.
bool OpenTerminal(int& master, int& slave) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        return false;
    }
    slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (slave < 0 || tcgetattr(slave, &mode) != 0) {
        return false;
    }
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    return tcsetattr(slave, TCSANOW, &mode) == 0;
}

// The report the tool must have written where the test reads its stdout: cpuprobe-sim's
// exactly, the real processor's in its shape.
void ExpectWholeReport(const std::string& out, bool simulated) {
    if (simulated) {
        EXPECT_EQ(out, kScenarioReport);
    } else {
        EXPECT_EQ(LineCount(out), ReportLineCount()) << out;
        EXPECT_EQ(out.rfind("VenderID  ", 0), 0u) << out;
    }
}

class BrokenStream : public testing::TestWithParam<StreamCase> {
  protected:
    void SetUp() override { scenarioPath_ = WriteTempFile(GetParam().name, kScenario); }
    void TearDown() override {
        // With its stdout closed the tool may have been given the scenario file as descriptor
        // 1: the report must not have gone into it.
        EXPECT_EQ(ReadWholeFile(scenarioPath_), kScenario);
        std::remove(scenarioPath_.c_str());
    }

    Child Start(int stdinFd, int stdoutFd, int outReadFd) {
        int errPipe[2] = {-1, -1};
        EXPECT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
        Command command;
        command.argv = {GetParam().program};
        command.environment[kScenarioVariable] = scenarioPath_;
        Child child;
        child.pid = StartProcess(command, stdinFd, stdoutFd, errPipe[1]);
        close(errPipe[1]);
        child.errFd = errPipe[0];
        child.outFd = outReadFd;
        return child;
    }

    ProcessExit RunWithStdout(int stdoutFd, bool& finished) {
        const int devNull = OpenOrFail("/dev/null", O_RDONLY);
        Child child = Start(devNull, stdoutFd, -1);
        close(devNull);
        if (stdoutFd >= 0) {
            close(stdoutFd);
        }
        const ProcessExit exit = Finish(child, finished);
        err_ = child.err;
        return exit;
    }

    ProcessExit RunWithStdin(int stdinFd, bool& finished) {
        int outPipe[2] = {-1, -1};
        EXPECT_EQ(pipe2(outPipe, O_CLOEXEC), 0);
        Child child = Start(stdinFd, outPipe[1], outPipe[0]);
        close(outPipe[1]);
        if (stdinFd >= 0) {
            close(stdinFd);
        }
        const ProcessExit exit = Finish(child, finished);
        ExpectWholeReport(child.out, GetParam().simulated);
        err_ = child.err;
        return exit;
    }

    // On a terminal the report shows before the tool waits. The test holds both sides of the
    // terminal, types a line only once the whole report has arrived, and afterwards finds the
    // line gone from the terminal's input queue: the tool read it, after the report.
    ProcessExit RunOnTerminal(bool& finished) {
        int master = -1, slave = -1;
        if (!OpenTerminal(master, slave)) {
            ADD_FAILURE() << "cannot set up a pseudo-terminal";
            finished = true;
            return {};
        }
        Child child = Start(slave, slave, master);
        EXPECT_TRUE(ReadUntil(child, ReportLineCount()))
            << "the report did not show on the terminal";
        ExpectWholeReport(child.out, GetParam().simulated);
        child.outFd = -1;  // the master stays open for the line and the queue check below
        const char line[] = "y\n";
        EXPECT_EQ(write(master, line, sizeof line - 1), static_cast<ssize_t>(sizeof line - 1));
        const ProcessExit exit = Finish(child, finished);
        int unread = -1;
        EXPECT_EQ(ioctl(slave, FIONREAD, &unread), 0);
        EXPECT_EQ(unread, 0) << "the tool ended without reading its input";
        close(master);
        close(slave);
        err_ = child.err;
        return exit;
    }

    ProcessExit Run(bool& finished) {
        switch (GetParam().streams) {
            case Streams::StdoutClosed:
                return RunWithStdout(-1, finished);
            case Streams::StdoutFull:
                return RunWithStdout(OpenOrFail("/dev/full", O_WRONLY), finished);
            case Streams::StdoutReaderGone: {
                int outPipe[2] = {-1, -1};
                EXPECT_EQ(pipe2(outPipe, O_CLOEXEC), 0);
                close(outPipe[0]);
                return RunWithStdout(outPipe[1], finished);
            }
            case Streams::StdinClosed:
                return RunWithStdin(-1, finished);
            case Streams::StdinEmpty:
                return RunWithStdin(OpenOrFail("/dev/null", O_RDONLY), finished);
            case Streams::StdinTerminal:
                return RunOnTerminal(finished);
        }
        finished = false;
        return {};
    }

    std::string scenarioPath_;
    std::string err_;
};

TEST_P(BrokenStream, EndsNormallyAndSilently) {
    bool finished = false;
    const ProcessExit exit = Run(finished);
    EXPECT_TRUE(finished) << "still running after " << kGuard.count() << " s: killed";
    EXPECT_TRUE(exit.exited) << "ended by signal " << exit.signal;
    EXPECT_EQ(err_, "");
}

INSTANTIATE_TEST_SUITE_P(Streams, BrokenStream, testing::ValuesIn(kStreamCases), PrintName);

}  // namespace
