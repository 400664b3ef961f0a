// A scenario: the recorded answers and the clocks of one simulated processor.
//
// A scenario file holds CPUID leaf lines in either of two forms, anywhere in the file:
//
//   CPUID 80000002: 20444D41-30352D43-6F725020-73736563      (leaf, then EAX-EBX-ECX-EDX)
//      0x80000002 0x00: eax=0x20444d41 ebx=0x30352d43 ecx=0x6f725020 edx=0x73736563
//
// and directives, one a line: @no-cpuid, @tick-start N, @tick-step N, @tsc-start N,
// @tsc-per-ms N, @read-ns N, @tick-unreadable, @tick-stops N, @tick-late AT MS,
// @counter-late AT MS and @tick-step-from AT MS,
// with each number decimal or 0x-hex up to 64 bits, and the MS of a late read also decimal
// with up to six places after the point, to the nanosecond (simulated_processor.h says what the
// clock directives do). The first line for a leaf wins and a leaf without a line answers zeros.
// Every other line is ignored, so a whole dump file, with its headers, is a scenario as it
// stands.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "probe/hardware.h"

// A read of the tick count or of the counter that comes late: the simulated thread is off the
// processor for lateMs ms and lateNs ns just before the first read of that kind due at atMs or
// later.
enum class SimulatedRead { kTick, kCounter };
struct LateRead {
    SimulatedRead read;
    uint64_t atMs;
    uint64_t lateMs;
    uint32_t lateNs = 0;  // the fraction of a ms, below 1000000
};

// The tick's steps take stepMs ms from the first step that begins at atMs or later, as when
// another program changes the system's timer resolution.
struct StepChange {
    uint64_t atMs;
    uint64_t stepMs;
};

// The value of tickStopsAtMs for a tick that never stops, as without @tick-stops.
constexpr uint64_t kTickNeverStops = UINT64_MAX;

struct Scenario {
    bool idBitCanChange = true;
    std::map<uint32_t, CpuidRegisters> leaves;
    uint64_t tickStart = 0;
    uint64_t tickStep = 1;  // simulated ms per tick read
    uint64_t tscStart = 0;
    uint64_t tscPerMs = 1000000;
    uint64_t readNs = 0;                       // @read-ns; 0 without it: reads take no time
    bool tickReadable = true;                  // false: @tick-unreadable
    uint64_t tickStopsAtMs = kTickNeverStops;  // @tick-stops
    std::vector<LateRead> lateReads;           // @tick-late and @counter-late, in file order
    std::vector<StepChange> stepChanges;       // @tick-step-from, in file order
    // Set by tests only, never by a scenario file: the system forbids reading the counter.
    bool counterForbidden = false;
};

struct ScenarioResult {
    bool ok = true;
    int errorLine = 0;  // 1-based line of the malformed directive; 0 for the whole file
    std::string error;  // what is wrong with it
    int linesRead = 0;  // leaf lines and directives: the lines that said anything
};

// Reads a scenario from the text of a file. Fails only on a malformed directive.
ScenarioResult ParseScenario(const std::string& text, Scenario& scenario);
