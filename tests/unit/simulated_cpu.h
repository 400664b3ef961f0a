// Helpers for running the probe and the clock measurement against a simulated processor.
#pragma once

#include <cstdint>
#include <string>

#include "probe/cpu_info.h"
#include "sim/scenario.h"

// "AuthenticAMD" as leaf 0 spells it: EBX "Auth", EDX "enti", ECX "cAMD".
constexpr uint32_t kAuthenticAmdEbx = 0x68747541;
constexpr uint32_t kAuthenticAmdEdx = 0x69746E65;
constexpr uint32_t kAuthenticAmdEcx = 0x444D4163;

// Starts from an all-zero record and makes the simulated processor answer from `scenario`,
// with its time back at the start.
void StartSimulation(const Scenario& scenario);

// Leaves 0x80000002..0x80000004 answering with these 48 name bytes, lowest byte of EAX first.
void AddNameLeaves(const std::string& nameBytes, Scenario& scenario);

// True when the tick count has been read since StartSimulation. Reads it once itself, so ask
// only once, at the end of a case.
bool TickWasRead(const Scenario& scenario);

// Compares every field, both texts byte for byte including their terminators.
void ExpectSameRecord(const CpuInfo& expected, const CpuInfo& actual);
