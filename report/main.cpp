// cpuprobe: identifies the processor it runs on, measures its clock, prints an 18-line report
// and waits for one character before it ends. It takes no arguments and reports no errors:
// whatever the processor cannot tell is printed as zero or as empty text.
#include <csignal>
#include <cstdarg>
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

// Writes one line of the report: formatted whole, then handed to the stream in one piece.
// MinGW's printf passes its output to the C runtime one character at a time, and Wine's runtime
// writes a buffered file out at every newline that arrives that way; a whole line stays in the
// buffer there as it does everywhere else. It takes its values as printf does, so that the
// compiler checks each line's format against them.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void PrintLine(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): printf's own form, see above
    char line[128];  // the longest line, the processor name's, has 59 characters
    va_list values;
    va_start(values, format);
    // The analyzer loses the va_start above when one run checks this file for both executables.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    std::vsnprintf(line, sizeof line, format, values);
    va_end(values);
    std::fputs(line, stdout);
}

void WriteReport(const CpuInfo& info) {
    PrintLine("VenderID  %s\n", info.VenderID);
    PrintLine("CpuName   %s\n", info.CpuName);
    PrintLine("TypeID %d, FamilyID %d, ModelID %d, SteppingID %d\n", info.TypeID, info.FamilyID,
              info.ModelID, info.SteppingID);
    PrintLine("CpuClock %sMHz\n", FormatOneDecimal(info.CpuClock).c_str());
    PrintLine("\n");
    PrintLine("CPUID       %d\n", info.CPUID);
    PrintLine("CPUIDMax    %x\n", info.CPUIDMax);
    PrintLine("CPUIDExtMax %x\n", info.CPUIDExtMax);
    PrintLine("FPU    %d\n", info.FPU);
    PrintLine("TSC    %d\n", info.TSC);
    PrintLine("MSR    %d\n", info.MSR);
    PrintLine("CMOV   %d\n", info.CMOV);
    PrintLine("MMX    %d\n", info.MMX);
    PrintLine("3DNow! %d\n", info.ThreeDNow);
    PrintLine("SSE_INT    %d\n", info.SSE_INT);
    PrintLine("SSE_FP     %d\n", info.SSE_FP);
    PrintLine("3DNow! Ext %d\n", info.ThreeDNowExt);
    PrintLine("FCMOV      %d\n", info.CMOV & info.FPU);
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
