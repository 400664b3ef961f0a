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

constexpr uint32_t kNsPerMs = 1000000;

struct SimulatedState {
    bool loaded = false;
    Scenario scenario;
    uint64_t stepStartMs = 0;  // when the tick count's current step began
    uint64_t intoStepMs = 0;   // how long ago, in whole ms (0 unless a read came late) ...
    uint32_t intoStepNs = 0;   // ... and the ns beyond them
    // Without @read-ns: whether the tick has been read, the step it showed last, and whether a
    // tick read has been made at the very end of the current step.
    bool tickWasRead = false;
    uint64_t lastTickStepMs = 0;
    bool tickReadAtStepEnd = false;
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

// The tick takes every step that has begun by now, unless it has stopped.
void TakeBegunSteps(SimulatedState& state) {
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

// Moves time on, and the tick takes every step that began meanwhile. Where no time passes, a
// step that begins right now (at the very end of the current one) is left as it is.
void PassTime(SimulatedState& state, uint64_t ms, uint32_t ns) {
    if (ms == 0 && ns == 0) {
        return;
    }
    const uint32_t allNs = state.intoStepNs + ns;
    state.intoStepNs = allNs % kNsPerMs;
    state.intoStepMs += ms + allNs / kNsPerMs;
    TakeBegunSteps(state);
}

// With @read-ns, every read takes that long; without it, none takes any time.
void TakeTheReadsTime(SimulatedState& state) {
    const uint64_t readNs = state.scenario.readNs;
    PassTime(state, readNs / kNsPerMs, static_cast<uint32_t>(readNs % kNsPerMs));
}

// Without @read-ns the thread can stand at the very end of a step: the next step begins now,
// and the tick does not show it yet.
bool AtStepEnd(const SimulatedState& state) {
    return !TickStopped(state) && state.intoStepMs >= StepLength(state.scenario, state.stepStartMs);
}

// Without @read-ns, the thread's spin through the rest of a step in which nothing happens: the
// reads that follow come at the very end of the step.
void SpinToTheStepEnd(SimulatedState& state) {
    state.intoStepMs = StepLength(state.scenario, state.stepStartMs);
    state.intoStepNs = 0;
    state.tickReadAtStepEnd = false;
}

// The counter's rise over `ns`, less than a ms, rounded down: tscPerMs * ns / 10^6 in 64 bits.
uint64_t RiseWithinAMillisecond(uint64_t tscPerMs, uint32_t ns) {
    return tscPerMs / kNsPerMs * ns + tscPerMs % kNsPerMs * ns / kNsPerMs;
}

// A read of this kind that the scenario makes late: the thread is off the processor first.
void ComeLate(SimulatedState& state, SimulatedRead read) {
    const std::vector<LateRead>& lateReads = state.scenario.lateReads;
    for (std::size_t i = 0; i < lateReads.size(); ++i) {
        if (!state.lateReadDone[i] && lateReads[i].read == read &&
            NowMs(state) >= lateReads[i].atMs) {
            state.lateReadDone[i] = true;
            PassTime(state, lateReads[i].lateMs, lateReads[i].lateNs);
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
    state.intoStepNs = 0;
    state.tickWasRead = false;
    state.lastTickStepMs = 0;
    state.tickReadAtStepEnd = false;
    state.lateReadDone.assign(scenario.lateReads.size(), false);
    state.tickPrepared = false;
}

bool SimulatedTickWasPrepared() { return State().tickPrepared; }

uint64_t SimulatedMilliseconds() { return NowMs(State()); }

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
    const Scenario& scenario = state.scenario;
    const uint64_t counter = scenario.tscStart + scenario.tscPerMs * NowMs(state) +
                             RiseWithinAMillisecond(scenario.tscPerMs, state.intoStepNs);
    TakeTheReadsTime(state);
    return counter;
}

bool HardwarePrepareMillisecondTick() {
    SimulatedState& state = LoadedState();
    state.tickPrepared = true;
    return state.scenario.tickReadable;
}

// Without @read-ns, a tick read that finds the step the tick read before it found stands for the
// spin through the rest of that step; at its very end the first tick read still shows the step
// and the next one shows the new step begin.
uint32_t HardwareMillisecondTick() {
    SimulatedState& state = LoadedState();
    if (AtStepEnd(state) && state.tickReadAtStepEnd) {
        TakeBegunSteps(state);
    }
    ComeLate(state, SimulatedRead::kTick);
    const uint32_t shown = static_cast<uint32_t>(state.scenario.tickStart + state.stepStartMs);
    if (AtStepEnd(state)) {
        state.tickReadAtStepEnd = true;
    } else if (state.scenario.readNs == 0 && state.tickWasRead &&
               state.stepStartMs == state.lastTickStepMs && !TickStopped(state)) {
        SpinToTheStepEnd(state);
    }
    state.tickWasRead = true;
    state.lastTickStepMs = state.stepStartMs;
    TakeTheReadsTime(state);
    return shown;
}
