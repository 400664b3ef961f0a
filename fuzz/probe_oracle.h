// What a simulated processor must make the probe and the clock measurement produce, worked out
// from the scenario alone, without the probe's own code. The fuzzers and the report-shape test
// check the tool against it.
#pragma once

#include <cstdint>
#include <string>

#include "sim/scenario.h"

// How far the probe gets before a test on the processor's answers stops it. Each stage fills
// the fields of the ones before it and its own; everything after stays zero.
enum class ProbeStage {
    kNoCpuid,        // the ID bit is fixed: the whole record stays zero
    kVendor,         // leaf 0: CPUID, CPUIDMax, VenderID
    kStandard,       // leaf 1 signature and flags, and CPUIDExtMax from leaf 0x80000000
    kExtendedFlags,  // leaf 0x80000001: 3DNow!, its extensions, and SSE_INT replaced
    kName,           // leaves 0x80000002-0x80000004: CpuName
};

// The answer the scenario gives for a leaf: zeros for a leaf it does not list.
CpuidRegisters ScenarioLeaf(const Scenario& scenario, uint32_t leaf);

ProbeStage ReachedStage(const Scenario& scenario);

// CpuClock after a measurement on this scenario, for a processor with a time-stamp counter and
// a tick that neither stops nor comes late nor is unreadable: every step is seen as it happens.
float ExpectedClock(const Scenario& scenario);

// The float's exact binary value rounded to one decimal, halves away from zero, worked out in
// decimal digits: "-" for a negative sign bit, at least one digit before the point, exactly
// one after it. The value must be finite.
std::string ExactOneDecimal(float value);
