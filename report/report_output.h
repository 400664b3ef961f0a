// Where the report goes and how it is written: shared by the tool's entry, which writes it to
// stdout, and by cpuprobe-dump, which writes the same 18 lines into a bug-report file.
#pragma once

#include <stdio.h>

#include "probe/cpu_info.h"

// True when stdout is a terminal (a console on Windows) rather than a file or a pipe.
bool StdoutIsTerminal();

// The 18 lines of the report, each written in one piece.
void WriteReport(FILE* out, const CpuInfo& info);
