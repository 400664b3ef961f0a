// The simulated processor: answers the hardware door from a scenario instead of the machine.
//
// Simulated time starts at 0 ms, where a step of the tick count begins, and is kept to the
// nanosecond. A tick read returns tick-start plus the ms at which the current step began
// (modulo 2^32); a counter read returns tsc-start plus tsc-per-ms times the ms now, its
// fraction included and rounded down (modulo 2^64).
//
// Without @read-ns, reads take no time and the simulated thread sees each step of the tick as
// it happens: a tick read that finds the step the tick read before it found stands for the
// spin through the rest of that step, so the reads that follow come at the very end of it,
// where the first tick read still shows the step and the next one shows the new step begin.
// Spinning counter read, tick read, counter read, ..., the thread so reads the counter right
// before and after the two tick reads around each step, at the moment the step begins.
//
// @read-ns N: every read of either kind takes N ns, and the tick shows the whole steps that
// have passed, so the thread reads on through each step and sees a step at its first tick
// read after the step begins.
//
// @tick-late AT MS and @counter-late AT MS: the first read of that kind due at AT ms or later
// comes MS ms late (MS to the ns), as when the thread is off the processor; time moves on by
// MS and the tick takes every step that began meanwhile, so the read may fall within a step.
// Each fires once, in the order given. @tick-stops N: once the tick has reached a step that
// began at N ms or later, it takes no more steps. @tick-step-from AT MS: from the first step
// that begins at AT ms or later, each step takes MS ms (where several apply, the one with the
// latest AT, the later line of equal ones). @tick-unreadable: the system refuses every clock,
// so the tick count cannot be prepared.
#pragma once

#include "sim/scenario.h"

// Makes the simulated processor answer from this scenario, with time back at its start.
void SimulateProcessor(const Scenario& scenario);

// True when the tick count has been prepared since SimulateProcessor.
bool SimulatedTickWasPrepared();

// The simulated time now, in whole ms since SimulateProcessor.
uint64_t SimulatedMilliseconds();

// Without a SimulateProcessor call, the first question to the processor loads the scenario
// file named by CPUPROBE_SCENARIO (read by ReadScenarioBytes). When it is unset, unreadable,
// holds a malformed directive or no line to replay, one line goes to stderr and the process
// exits with status 2.
constexpr const char* kScenarioVariable = "CPUPROBE_SCENARIO";
constexpr int kScenarioErrorStatus = 2;
