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
#include "report/print_line.h"

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
    if (!StdoutIsTerminal()) {
        static char buffer[4096];
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
    PrintLine(stdout, "VenderID  %s\n", info.VenderID);
    PrintLine(stdout, "CpuName   %s\n", info.CpuName);
    PrintLine(stdout, "TypeID %d, FamilyID %d, ModelID %d, SteppingID %d\n", info.TypeID,
              info.FamilyID, info.ModelID, info.SteppingID);
    PrintLine(stdout, "CpuClock %sMHz\n", FormatOneDecimal(info.CpuClock).c_str());
    PrintLine(stdout, "\n");
    PrintLine(stdout, "CPUID       %d\n", info.CPUID);
    PrintLine(stdout, "CPUIDMax    %x\n", info.CPUIDMax);
    PrintLine(stdout, "CPUIDExtMax %x\n", info.CPUIDExtMax);
    PrintLine(stdout, "FPU    %d\n", info.FPU);
    PrintLine(stdout, "TSC    %d\n", info.TSC);
    PrintLine(stdout, "MSR    %d\n", info.MSR);
    PrintLine(stdout, "CMOV   %d\n", info.CMOV);
    PrintLine(stdout, "MMX    %d\n", info.MMX);
    PrintLine(stdout, "3DNow! %d\n", info.ThreeDNow);
    PrintLine(stdout, "SSE_INT    %d\n", info.SSE_INT);
    PrintLine(stdout, "SSE_FP     %d\n", info.SSE_FP);
    PrintLine(stdout, "3DNow! Ext %d\n", info.ThreeDNowExt);
    PrintLine(stdout, "FCMOV      %d\n", info.CMOV & info.FPU);
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
