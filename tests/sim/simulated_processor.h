// The simulated processor: answers the hardware door from a scenario instead of the machine.
//
// Simulated time starts at 0 ms. The first tick read returns tick-start; each later one first
// advances time by tick-step ms and returns tick-start plus the elapsed ms (modulo 2^32). A
// counter read returns tsc-start plus tsc-per-ms times the elapsed ms (modulo 2^64) and does not
// advance time.
#pragma once

#include "tests/sim/scenario.h"

// Makes the simulated processor answer from this scenario, with time back at its start.
void SimulateProcessor(const Scenario& scenario);

// Without a SimulateProcessor call, the first question to the processor loads the scenario
// file named by CPUPROBE_SCENARIO (read by ReadScenarioBytes). When it is unset, unreadable,
// holds a malformed directive or no line to replay, one line goes to stderr and the process
// exits with status 2.
constexpr const char* kScenarioVariable = "CPUPROBE_SCENARIO";
constexpr int kScenarioErrorStatus = 2;
