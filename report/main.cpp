// cpuprobe: identifies the processor it runs on, measures its clock, prints an 18-line report
// and waits for one character before it ends. It takes no arguments and reports no errors:
// whatever the processor cannot tell is printed as zero or as empty text.
#include <signal.h>
#include <stdio.h>

#include "probe/cpu_info.h"
#include "probe/native_target.h"
#include "report/report_output.h"

namespace {

// On a console each line shows as soon as it is written, which the runtime already does for a
// terminal. Anywhere else the report is gathered in one buffer, larger than the whole report,
// and written when the process ends, after the awaited character has arrived.
void ChooseOutputBuffering() {
#if !CPUPROBE_TARGET_KLIBC
    if (!StdoutIsTerminal()) {
        static char buffer[4096];
        setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    }
#endif
}

// A reader that has gone away loses the report; it must not end the process with a signal.
void IgnoreBrokenPipes() {
#if defined(SIGPIPE)
    signal(SIGPIPE, SIG_IGN);
#endif
}

}  // namespace

int main() {
    ChooseOutputBuffering();
    IgnoreBrokenPipes();
    ProbeCpu();
    MeasureCpuClock();
    WriteReport(stdout, TheCpuInfo);
    // The one character is only waited for, never used; end of input returns at once.
    (void)getchar();
    return 0;
}
