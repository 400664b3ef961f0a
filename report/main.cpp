// cpuprobe: identifies the processor it runs on, measures its clock, prints an 18-line report
// and waits for one character before it ends. It takes no arguments and reports no errors:
// whatever the processor cannot tell is printed as zero or as empty text.
#include <csignal>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "probe/cpu_info.h"
#include "report/one_decimal.h"

namespace {

bool StdoutIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

// On a console each line shows as soon as it is written, which the runtime already does for a
// terminal. Anywhere else the report is gathered in one buffer, larger than the whole report,
// and written when the process ends, after the awaited character has arrived.
void ChooseOutputBuffering() {
    static char buffer[4096];
    if (!StdoutIsTerminal()) {
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    }
}

// A reader that has gone away loses the report; it must not end the process with a signal.
void IgnoreBrokenPipes() {
#if defined(SIGPIPE)
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

void WriteReport(const CpuInfo& info) {
    std::printf("VenderID  %s\n", info.VenderID);
    std::printf("CpuName   %s\n", info.CpuName);
    std::printf("TypeID %d, FamilyID %d, ModelID %d, SteppingID %d\n", info.TypeID, info.FamilyID,
                info.ModelID, info.SteppingID);
    std::printf("CpuClock %sMHz\n", FormatOneDecimal(info.CpuClock).c_str());
    std::printf("\n");
    std::printf("CPUID       %d\n", info.CPUID);
    std::printf("CPUIDMax    %x\n", info.CPUIDMax);
    std::printf("CPUIDExtMax %x\n", info.CPUIDExtMax);
    std::printf("FPU    %d\n", info.FPU);
    std::printf("TSC    %d\n", info.TSC);
    std::printf("MSR    %d\n", info.MSR);
    std::printf("CMOV   %d\n", info.CMOV);
    std::printf("MMX    %d\n", info.MMX);
    std::printf("3DNow! %d\n", info.ThreeDNow);
    std::printf("SSE_INT    %d\n", info.SSE_INT);
    std::printf("SSE_FP     %d\n", info.SSE_FP);
    std::printf("3DNow! Ext %d\n", info.ThreeDNowExt);
    std::printf("FCMOV      %d\n", info.CMOV & info.FPU);
}

}  // namespace

int main() {
    ChooseOutputBuffering();
    IgnoreBrokenPipes();
    ProbeCpu();
    MeasureCpuClock();
    WriteReport(TheCpuInfo);
    // The one character is only waited for, never used; end of input returns at once.
    (void)std::getchar();
    return 0;
}
