// cpuprobe-dump: the raw CPUID answers of the processor it runs on, in the form of `cpuid -r -1`,
// for cpuprobe-sim to replay. Redirected, it prints the dump alone; on a console, where nobody
// could keep what it prints, it writes the report and the dump into a file beside itself,
// says where, and waits for Enter, so that a window opened by a double click stays open.
#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>

#include "probe/cpu_info.h"
#include "probe/hardware.h"
#include "probe/native_target.h"
#include "report/beside_program.h"
#include "report/report_output.h"

namespace {

// Every leaf is asked with sub-leaf 0 (the hardware door fixes it), so a dump never differs
// between two runs on one processor. Leaf 0x80000000 is always asked: the tool stores what a
// processor without extended leaves answers there.
constexpr uint32_t kStandardBase = 0x0;
constexpr uint32_t kExtendedBase = 0x80000000;

// No processor has more than a few dozen leaves in a range; a larger maximum is garbage and
// is cut here rather than asked for billions of times.
constexpr uint32_t kMostLeavesAfterBase = 0xFF;

#if CPUPROBE_TARGET_DOS
// DOS names have eight letters and three.
constexpr const char* kDumperName = "CPUDUMP";
constexpr const char* kBugReportFileName = "CPUDUMP.TXT";
#else
constexpr const char* kDumperName = "cpuprobe-dump";
constexpr const char* kBugReportFileName = "cpuprobe-dump.txt";
#endif
constexpr int kCouldNotWriteStatus = 1;

CpuidRegisters DumpLeaf(FILE* out, uint32_t leaf) {
    const CpuidRegisters answer = HardwareCpuid(leaf);
    fprintf(out,
            "   0x%08" PRIx32 " 0x00: eax=0x%08" PRIx32 " ebx=0x%08" PRIx32 " ecx=0x%08" PRIx32
            " edx=0x%08" PRIx32 "\n",
            leaf, answer.eax, answer.ebx, answer.ecx, answer.edx);
    return answer;
}

// The base leaf of a range reports the highest leaf of that range in EAX. A value below the
// base means the range does not exist.
void DumpRange(FILE* out, uint32_t base) {
    const uint32_t highest = DumpLeaf(out, base).eax;
    if (highest <= base) {
        return;
    }
    const uint32_t leavesAfterBase =
        highest - base < kMostLeavesAfterBase ? highest - base : kMostLeavesAfterBase;
    for (uint32_t offset = 1; offset <= leavesAfterBase; ++offset) {
        DumpLeaf(out, base + offset);
    }
}

void WriteDump(FILE* out) {
    fprintf(out, "CPU:\n");
    if (!HardwareIdBitCanChange()) {
        fprintf(out, "@no-cpuid\n");
        return;
    }
    DumpRange(out, kStandardBase);
    DumpRange(out, kExtendedBase);
}

// The report comes first, exactly as cpuprobe prints it, so that the file's first 18 lines are
// the user's report; the dump follows. No line of a report is a leaf line or a directive, so
// cpuprobe-sim replays the whole file as the dump alone.
bool WriteBugReport(FILE* file) {
    WriteReport(file, TheCpuInfo);
    fprintf(file,
            "\n%s %s: the report of cpuprobe above, the processor's raw CPUID answers "
            "below.\n",
            kDumperName, CPUPROBE_VERSION);
    WriteDump(file);
    const bool written = ferror(file) == 0;
    return fclose(file) == 0 && written;
}

int WriteBugReportBesideProgram() {
    ProbeCpu();
    MeasureCpuClock();
    WriteReport(stdout, TheCpuInfo);
    FileBesideProgram target{};
    OpenBesideProgram(kBugReportFileName, target);
    int status = 0;
    if (target.file != nullptr && WriteBugReport(target.file)) {
        printf(
            "\nThis report and the processor's CPUID answers are saved in\n  %s\n"
            "Attach that file to your bug report.\n",
            target.shownPath);
    } else {
        printf(
            "\n%s could not write %s: %s\nRun it from a command prompt in a folder you can "
            "write to, as: %s > dump.txt\n",
            kDumperName, target.shownPath,
            target.problem == nullptr ? "write error" : target.problem, kDumperName);
        status = kCouldNotWriteStatus;
    }
    printf("\nPress Enter to close.\n");
    (void)getchar();
    return status;
}

}  // namespace

int main() {
    if (!StdoutIsTerminal()) {
        WriteDump(stdout);
        return 0;
    }
    return WriteBugReportBesideProgram();
}
