// The one door to the processor and the system's tick count. Called by the probe and the clock
// (probe/), by cpuprobe-dump for the raw answers it prints (report/dump_cpuid.cpp), and by the
// benchmark's yardstick for the counter (bench/tsc_reference.cpp). Each executable links one
// implementation: the native one for its platform, or the simulated processor (sim/).
#pragma once

#include <stdint.h>

struct CpuidRegisters {
    uint32_t eax;
    uint32_t ebx;
    uint32_t ecx;
    uint32_t edx;
};

// True when bit 21 (ID) of the flags register can be changed, which is how a processor
// shows that it has the CPUID instruction.
bool HardwareIdBitCanChange();

// Executes CPUID for one leaf, with sub-leaf 0. None of the leaves the probe asks for takes a
// sub-leaf; fixing it anyway means a leaf asked the same way always gets the same answer,
// whatever ECX held before.
CpuidRegisters HardwareCpuid(uint32_t leaf);

// True when this process may read the time-stamp counter. A system can forbid it (Linux:
// prctl PR_SET_TSC, which a sandbox may set and which is kept across exec); RDTSC then faults.
bool HardwareTimeStampCounterReadable();

// The full 64-bit time-stamp counter (RDTSC), with no fencing around it.
uint64_t HardwareTimeStampCounter();

// Makes the millisecond tick count ready to be read, and says whether it can be read at all:
// false where the system refuses every clock the count could come from. Call it once before
// the first read, and only where HardwareTimeStampCounterReadable() is true: the system's clock
// may read the time-stamp counter itself, which faults where the process may not. It does
// the one-time work of the first read (page faults, choosing a clock), so that none of it
// falls inside a timed interval.
bool HardwarePrepareMillisecondTick();

// A millisecond tick count: counts up steadily and wraps from 0xFFFFFFFF to 0. Where it starts
// is the platform's choice: Windows counts from boot, in steps of its timer's resolution; the
// POSIX count is 0 at its first read after HardwarePrepareMillisecondTick, steps to 1 right
// after it and then every 1 ms from that read.
uint32_t HardwareMillisecondTick();
