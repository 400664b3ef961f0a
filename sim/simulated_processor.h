// The simulated processor: answers the hardware door from a scenario instead of the machine.
//
// Simulated time starts at 0 ms, where a step of the tick count begins. The simulated thread
// sees each step of the tick as it happens: a tick read that follows another tick read comes
// as the next step begins, tick-step ms on; every other read (the first tick read, a tick read
// right after a counter read, a counter read) takes no time. A tick read returns tick-start
// plus the ms at which the current step began (modulo 2^32); a counter read returns tsc-start
// plus tsc-per-ms times the ms now (modulo 2^64). Without the directives below that is: the
// first tick read returns tick-start, each tick read after a tick read tick-step ms more, and
// a counter read gives the counter at the time of the last tick read.
//
// @tick-late AT MS and @counter-late AT MS: the first read of that kind due at AT ms or later
// comes MS ms late, as when the thread is off the processor; time moves on by MS ms and the
// tick takes every step that began meanwhile, so the read may fall within a step. Each fires
// once, in the order given. @tick-stops N: once the tick has reached a step that began at N ms
// or later, it takes no more steps, and reading it passes no time. @tick-step-from AT MS: from
// the first step that begins at AT ms or later, each step takes MS ms (where several apply,
// the one with the latest AT, the later line of equal ones). @tick-unreadable: the system
// refuses every clock, so the tick count cannot be prepared.
#pragma once

#include "sim/scenario.h"

// Makes the simulated processor answer from this scenario, with time back at its start.
void SimulateProcessor(const Scenario& scenario);

// True when the tick count has been prepared since SimulateProcessor.
bool SimulatedTickWasPrepared();

// Without a SimulateProcessor call, the first question to the processor loads the scenario
// file named by CPUPROBE_SCENARIO (read by ReadScenarioBytes). When it is unset, unreadable,
// holds a malformed directive or no line to replay, one line goes to stderr and the process
// exits with status 2.
constexpr const char* kScenarioVariable = "CPUPROBE_SCENARIO";
constexpr int kScenarioErrorStatus = 2;
