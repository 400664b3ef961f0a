#include "sim/simulated_processor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "probe/hardware.h"
#include "sim/scenario_text.h"

namespace {

struct SimulatedState {
    bool loaded = false;
    Scenario scenario;
    uint64_t stepStartMs = 0;  // when the tick count's current step began
    uint64_t intoStepMs = 0;   // how long ago: 0 unless a read came late
    bool lastReadWasTick = false;
    std::vector<bool> lateReadDone;
    bool tickPrepared = false;
};

SimulatedState& State() {
    static SimulatedState state;
    return state;
}

[[noreturn]] void FailScenario(const std::string& problem) {
    std::fprintf(stderr, "cpuprobe-sim: %s\n", problem.c_str());
    std::exit(kScenarioErrorStatus);
}

// Reads the whole file; a directory or a read error counts as unreadable.
bool ReadWholeFile(const char* path, std::string& text, std::string& problem) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        problem = std::strerror(errno);
        return false;
    }
    char chunk[4096];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, count);
    }
    const bool failed = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (failed) {
        problem = std::strerror(readErrno);
        return false;
    }
    return true;
}

void LoadScenarioFromEnvironment() {
    const char* path = std::getenv(kScenarioVariable);
    if (path == nullptr) {
        FailScenario(std::string(kScenarioVariable) + " is not set");
    }
    std::string text;
    std::string problem;
    if (!ReadWholeFile(path, text, problem)) {
        FailScenario(std::string("cannot read ") + path + ": " + problem);
    }
    Scenario scenario;
    const ScenarioResult result = ReadScenarioBytes(text, scenario);
    if (!result.ok) {
        const std::string where =
            result.errorLine > 0 ? ":" + std::to_string(result.errorLine) : std::string();
        FailScenario(std::string(path) + where + ": " + result.error);
    }
    SimulateProcessor(scenario);
}

SimulatedState& LoadedState() {
    if (!State().loaded) {
        LoadScenarioFromEnvironment();
    }
    return State();
}

uint64_t NowMs(const SimulatedState& state) { return state.stepStartMs + state.intoStepMs; }

bool TickStopped(const SimulatedState& state) {
    return state.scenario.tickStopsAtMs != kTickNeverStops &&
           state.stepStartMs >= state.scenario.tickStopsAtMs;
}

// How long the step that begins at `startMs` lasts.
uint64_t StepLength(const Scenario& scenario, uint64_t startMs) {
    uint64_t length = scenario.tickStep;
    uint64_t since = 0;
    for (const StepChange& change : scenario.stepChanges) {
        if (change.atMs <= startMs && change.atMs >= since) {
            length = change.stepMs;
            since = change.atMs;
        }
    }
    return length;
}

// How many steps of `length` from `startMs` reach the first step change after it, if any.
uint64_t StepsToNextChange(const Scenario& scenario, uint64_t startMs, uint64_t length) {
    uint64_t steps = UINT64_MAX;
    for (const StepChange& change : scenario.stepChanges) {
        if (change.atMs > startMs) {
            steps = std::min(steps, (change.atMs - startMs - 1) / length + 1);
        }
    }
    return steps;
}

// Moves time on; the tick takes every step that began meanwhile, unless it has stopped.
void PassTime(SimulatedState& state, uint64_t ms) {
    state.intoStepMs += ms;
    if (TickStopped(state)) {
        return;
    }
    for (;;) {
        const uint64_t length = StepLength(state.scenario, state.stepStartMs);
        if (state.intoStepMs < length) {
            return;
        }
        const uint64_t steps =
            std::min(state.intoStepMs / length,
                     StepsToNextChange(state.scenario, state.stepStartMs, length));
        state.stepStartMs += steps * length;
        state.intoStepMs -= steps * length;
    }
}

// A read of this kind that the scenario makes late: the thread is off the processor first.
void ComeLate(SimulatedState& state, SimulatedRead read) {
    const std::vector<LateRead>& lateReads = state.scenario.lateReads;
    for (std::size_t i = 0; i < lateReads.size(); ++i) {
        if (!state.lateReadDone[i] && lateReads[i].read == read &&
            NowMs(state) >= lateReads[i].atMs) {
            state.lateReadDone[i] = true;
            PassTime(state, lateReads[i].lateMs);
        }
    }
}

}  // namespace

void SimulateProcessor(const Scenario& scenario) {
    SimulatedState& state = State();
    state.loaded = true;
    state.scenario = scenario;
    state.stepStartMs = 0;
    state.intoStepMs = 0;
    state.lastReadWasTick = false;
    state.lateReadDone.assign(scenario.lateReads.size(), false);
    state.tickPrepared = false;
}

bool SimulatedTickWasPrepared() { return State().tickPrepared; }

bool HardwareIdBitCanChange() { return LoadedState().scenario.idBitCanChange; }

CpuidRegisters HardwareCpuid(uint32_t leaf) {
    const auto& leaves = LoadedState().scenario.leaves;
    const auto found = leaves.find(leaf);
    return found == leaves.end() ? CpuidRegisters{0, 0, 0, 0} : found->second;
}

bool HardwareTimeStampCounterReadable() { return !LoadedState().scenario.counterForbidden; }

uint64_t HardwareTimeStampCounter() {
    SimulatedState& state = LoadedState();
    ComeLate(state, SimulatedRead::kCounter);
    state.lastReadWasTick = false;
    return state.scenario.tscStart + state.scenario.tscPerMs * NowMs(state);
}

bool HardwarePrepareMillisecondTick() {
    SimulatedState& state = LoadedState();
    state.tickPrepared = true;
    return state.scenario.tickReadable;
}

// Spinning on the tick, the thread reads it next as its next step begins.
uint32_t HardwareMillisecondTick() {
    SimulatedState& state = LoadedState();
    if (state.lastReadWasTick && !TickStopped(state)) {
        PassTime(state, StepLength(state.scenario, state.stepStartMs) - state.intoStepMs);
    }
    ComeLate(state, SimulatedRead::kTick);
    state.lastReadWasTick = true;
    return static_cast<uint32_t>(state.scenario.tickStart + state.stepStartMs);
}
