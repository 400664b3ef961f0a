// The processor information record, its one instance, and the two operations that fill it.
//
// ProbeCpu asks the processor about itself through CPUID; MeasureCpuClock then times the
// time-stamp counter against the millisecond tick count. Both write TheCpuInfo, which starts
// all zero and is only ever read by the report. A field the processor cannot supply keeps its
// zero value, so the record is always complete enough to print.
#pragma once

#include <stdint.h>

struct CpuInfo {
    uint32_t CPUIDMax;     // EAX of leaf 0: the highest standard leaf
    uint32_t CPUIDExtMax;  // EAX of leaf 0x80000000, stored as returned
    char VenderID[12 + 1];
    char CpuName[48 + 1];  // the 49th byte is never written, so the name is always terminated
    int32_t TypeID;        // leaf 1 EAX bits 12-13
    int32_t FamilyID;      // leaf 1 EAX bits 8-11, the base family only
    int32_t ModelID;       // leaf 1 EAX bits 4-7, the base model only
    int32_t SteppingID;    // leaf 1 EAX bits 0-3

    // Flags: each holds exactly 0 or 1.
    int32_t CPUID;
    int32_t FPU;
    int32_t TSC;
    int32_t MSR;
    int32_t CMOV;
    int32_t MMX;
    int32_t ThreeDNow;
    int32_t SSE_INT;
    int32_t SSE_FP;
    int32_t ThreeDNowExt;

    float CpuClock;  // MHz; 0 unless TSC is 1
};

extern CpuInfo TheCpuInfo;

// Fills every field of TheCpuInfo but CpuClock, as far as the processor's answers allow.
void ProbeCpu();

// Spins for 500 ms of the tick count and stores the counter's rate in CpuClock.
// Runs after ProbeCpu, whose TSC flag it needs; without a time-stamp counter it does nothing.
void MeasureCpuClock();
