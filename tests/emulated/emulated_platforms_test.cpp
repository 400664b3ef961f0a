// The native tool on processors and targets this machine is not, under qemu's user-mode
// emulation: each x86 model answers CPUID with its own values, 32-bit x86 runs the 32-bit
// build, and aarch64 has no CPUID at all.
//
// The check for a model: the tool's report must agree, in every line but the clock, with the
// report cpuprobe-sim gives for a raw dump that cpuprobe-dump took under the same model. The
// clock under emulation is the host's time-stamp counter, so only its form is checked: a
// positive rate where the model has a counter, 0.0 where it has none. Where the recorded
// processors include a dump taken under the same model, the report must agree with it too.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/emulated/replay.h"
#include "tests/support/process.h"

namespace {

constexpr std::size_t kCpuidLineIndex = 5;

struct Platform {
    const char* name;
    const char* emulator;
    const char* buildFolder;  // empty where that build is not configured
};

const Platform kX86_64 = {"x86_64", CPUPROBE_QEMU_X86_64, CPUPROBE_NATIVE_BUILD_DIR};
const Platform kI386 = {"i386", CPUPROBE_QEMU_I386, CPUPROBE_I686_BUILD_DIR};
const Platform kAarch64 = {"aarch64", CPUPROBE_QEMU_AARCH64, CPUPROBE_AARCH64_BUILD_DIR};

struct EmulatedCase {
    const Platform* platform;
    std::string model;  // a qemu -cpu model, or empty for the emulator's default
};

// The models: 3DNow! (athlon, phenom); Intel parts whose leaf 0x80000001 lacks bit 22
// (core2duo, coreduo, n270); an AMD part without it either (Opteron_G3); no SSE at all
// (pentium2); the first x86-64 processor (Opteron_G1), the oldest model either build runs on;
// current servers (EPYC-Rome, Skylake-Server, Dhyana). qemu-x86_64 refuses the
// models without 64-bit mode, so those run 32-bit only. Older models (pentium, 486) cannot run
// at all: Debian's 32-bit loader already uses CMOV.
std::vector<EmulatedCase> Cases() {
    std::vector<EmulatedCase> cases;
    for (const char* model : {"", "Opteron_G1", "phenom", "core2duo", "Penryn", "Opteron_G3",
                              "EPYC-Rome", "Skylake-Server", "Dhyana", "qemu64"}) {
        cases.push_back({&kX86_64, model});
    }
    for (const char* model : {"", "athlon", "phenom", "core2duo", "coreduo", "n270", "pentium2",
                              "Opteron_G3", "EPYC-Rome", "Skylake-Server", "Dhyana"}) {
        cases.push_back({&kI386, model});
    }
    cases.push_back({&kAarch64, ""});
    return cases;
}

std::string CaseName(const EmulatedCase& emulated) {
    std::string name = std::string(emulated.platform->name) + "_" +
                       (emulated.model.empty() ? "default" : emulated.model);
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

Command UnderEmulation(const EmulatedCase& emulated, const std::string& program) {
    Command command;
    command.argv = {emulated.platform->emulator};
    if (emulated.platform == &kAarch64) {
        command.argv.insert(command.argv.end(), {"-L", CPUPROBE_AARCH64_SYSROOT});
    }
    if (!emulated.model.empty()) {
        command.argv.insert(command.argv.end(), {"-cpu", emulated.model});
    }
    command.argv.push_back(std::string(emulated.platform->buildFolder) + "/" + program);
    return command;
}

// A positive rate where the report says the processor has a time-stamp counter, else 0.0.
void ExpectClockLineFits(const std::vector<std::string>& report) {
    ASSERT_GT(report.size(), kClockLineIndex);
    const bool hasCounter = std::find(report.begin(), report.end(), "TSC    1") != report.end();
    const std::string& clock = report[kClockLineIndex];
    if (!hasCounter) {
        EXPECT_EQ(clock, "CpuClock 0.0MHz");
        return;
    }
    std::smatch rate;
    ASSERT_TRUE(std::regex_match(clock, rate, std::regex("CpuClock ([0-9]+\\.[0-9])MHz"))) << clock;
    EXPECT_GT(std::stod(rate[1]), 0.0) << clock;
}

class Emulated : public testing::TestWithParam<EmulatedCase> {
  protected:
    void SetUp() override {
        if (GetParam().platform->buildFolder[0] == '\0') {
            GTEST_SKIP() << "no " << GetParam().platform->name << " build configured";
        }
    }
};

TEST_P(Emulated, ReportAgreesWithItsOwnDumpReplayed) {
    const EmulatedCase& emulated = GetParam();
    const ProcessResult tool = RunProcess(UnderEmulation(emulated, "cpuprobe"), "");
    ASSERT_TRUE(tool.exit.exited && tool.exit.status == 0) << "cpuprobe: " << tool.err;
    const ProcessResult dump = RunProcess(UnderEmulation(emulated, "cpuprobe-dump"), "");
    ASSERT_TRUE(dump.exit.exited && dump.exit.status == 0) << "cpuprobe-dump: " << dump.err;
    const ProcessResult replay = ReplayDump(CPUPROBE_SIM_PATH, dump.out, CaseName(emulated));

    EXPECT_EQ(ReportLines(tool.out).size(), 18u) << tool.out;
    EXPECT_EQ(ReportLinesButClock(tool.out), ReportLinesButClock(replay.out))
        << "dump:\n"
        << dump.out << replay.err;
    ExpectClockLineFits(ReportLines(tool.out));
    // qemu lets the ID bit change under every x86 model, even those whose real parts have no
    // CPUID, so a report without CPUID here means the tool's own test of the bit went wrong.
    if (emulated.platform != &kAarch64) {
        EXPECT_EQ(ReportLines(tool.out).at(kCpuidLineIndex), "CPUID       1");
    }

    const std::filesystem::path recorded =
        std::string(CPUPROBE_PROCESSORS_PATH) + "/linux-cpuid-r/qemu-" + emulated.model + ".report";
    if (!emulated.model.empty() && std::filesystem::exists(recorded)) {
        EXPECT_EQ(ReportLinesButClock(tool.out),
                  ReportLinesButClock(ReadWholeFile(recorded.string())))
            << recorded;
    }
}

std::string EmulatedCaseName(const testing::TestParamInfo<EmulatedCase>& emulated) {
    return CaseName(emulated.param);
}

INSTANTIATE_TEST_SUITE_P(Qemu, Emulated, testing::ValuesIn(Cases()), EmulatedCaseName);

constexpr const char* kAllZeroReport =
    "VenderID  \n"
    "CpuName   \n"
    "TypeID 0, FamilyID 0, ModelID 0, SteppingID 0\n"
    "CpuClock 0.0MHz\n"
    "\n"
    "CPUID       0\n"
    "CPUIDMax    0\n"
    "CPUIDExtMax 0\n"
    "FPU    0\n"
    "TSC    0\n"
    "MSR    0\n"
    "CMOV   0\n"
    "MMX    0\n"
    "3DNow! 0\n"
    "SSE_INT    0\n"
    "SSE_FP     0\n"
    "3DNow! Ext 0\n"
    "FCMOV      0\n";

class Aarch64 : public testing::Test {
  protected:
    void SetUp() override {
        if (kAarch64.buildFolder[0] == '\0') {
            GTEST_SKIP() << "no aarch64 build configured";
        }
    }
    const EmulatedCase aarch64_{&kAarch64, ""};
};

TEST_F(Aarch64, ReportsTheAllZeroRecordAndEndsAtEndOfInput) {
    const ProcessResult tool = RunProcess(UnderEmulation(aarch64_, "cpuprobe"), "");
    EXPECT_TRUE(tool.exit.exited) << tool.err;
    EXPECT_EQ(tool.out, kAllZeroReport);
}

// A tool that does not wait ends at once, and its end closes the output pipe; one that waits
// keeps it open for as long as its input does. The bound only limits how long the test looks:
// a slow machine can make a faulty tool pass here, never a correct one fail.
constexpr int kLookForAnEndMs = 2000;

TEST_F(Aarch64, WaitsWhileInputStaysOpen) {
    int input[2], output[2];
    ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
    const pid_t pid = StartProcess(UnderEmulation(aarch64_, "cpuprobe"), input[0], output[1], -1);
    close(input[0]);
    close(output[1]);

    pollfd ended = {output[0], POLLIN, 0};
    EXPECT_EQ(poll(&ended, 1, kLookForAnEndMs), 0) << "ended or wrote before any input";

    ASSERT_EQ(write(input[1], "\n", 1), 1);
    close(input[1]);
    std::string report;
    char chunk[4096];
    for (ssize_t count; (count = read(output[0], chunk, sizeof chunk)) > 0;) {
        report.append(chunk, static_cast<std::size_t>(count));
    }
    close(output[0]);
    EXPECT_TRUE(WaitForProcess(pid).exited);
    EXPECT_EQ(report, kAllZeroReport);
}

}  // namespace
