// The simulated processor: answers the hardware door from a scenario instead of the machine.
//
// Simulated time starts at 0 ms. The first tick read returns tick-start; each later one first
// advances time by tick-step ms and returns tick-start plus the elapsed ms (modulo 2^32). A
// counter read returns tsc-start plus tsc-per-ms times the elapsed ms (modulo 2^64) and does not
// advance time. With @tick-unreadable the system refuses every clock, so the tick count cannot
// be prepared.
#pragma once

#include "tests/sim/scenario.h"

// Makes the simulated processor answer from this scenario, with time back at its start.
void SimulateProcessor(const Scenario& scenario);

// True when the tick count has been prepared since SimulateProcessor.
bool SimulatedTickWasPrepared();

// Without a SimulateProcessor call, the first question to the processor loads the scenario
// file named by CPUPROBE_SCENARIO. When it is unset, unreadable or holds a malformed
// directive, one line goes to stderr and the process exits with status 2.
constexpr const char* kScenarioVariable = "CPUPROBE_SCENARIO";
constexpr int kScenarioErrorStatus = 2;
