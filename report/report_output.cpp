#include "report/report_output.h"

#include "probe/native_target.h"

#if CPUPROBE_TARGET_WINDOWS
#include <io.h>
#else
#include <unistd.h>
#endif

#include "report/one_decimal.h"
#include "report/print_line.h"

bool StdoutIsTerminal() {
#if CPUPROBE_TARGET_WINDOWS
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

void WriteReport(FILE* out, const CpuInfo& info) {
    char clock[kOneDecimalTextSize];
    FormatOneDecimal(info.CpuClock, clock);
    PrintLine(out, "VenderID  %s\n", info.VenderID);
    PrintLine(out, "CpuName   %s\n", info.CpuName);
    PrintLine(out, "TypeID %d, FamilyID %d, ModelID %d, SteppingID %d\n", info.TypeID,
              info.FamilyID, info.ModelID, info.SteppingID);
    PrintLine(out, "CpuClock %sMHz\n", clock);
    PrintLine(out, "\n");
    PrintLine(out, "CPUID       %d\n", info.CPUID);
    PrintLine(out, "CPUIDMax    %x\n", info.CPUIDMax);
    PrintLine(out, "CPUIDExtMax %x\n", info.CPUIDExtMax);
    PrintLine(out, "FPU    %d\n", info.FPU);
    PrintLine(out, "TSC    %d\n", info.TSC);
    PrintLine(out, "MSR    %d\n", info.MSR);
    PrintLine(out, "CMOV   %d\n", info.CMOV);
    PrintLine(out, "MMX    %d\n", info.MMX);
    PrintLine(out, "3DNow! %d\n", info.ThreeDNow);
    PrintLine(out, "SSE_INT    %d\n", info.SSE_INT);
    PrintLine(out, "SSE_FP     %d\n", info.SSE_FP);
    PrintLine(out, "3DNow! Ext %d\n", info.ThreeDNowExt);
    PrintLine(out, "FCMOV      %d\n", info.CMOV & info.FPU);
}
