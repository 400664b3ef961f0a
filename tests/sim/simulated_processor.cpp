#include "tests/sim/simulated_processor.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "probe/hardware.h"

namespace {

struct SimulatedState {
    bool loaded = false;
    Scenario scenario;
    uint64_t elapsedMs = 0;
    bool tickReadBefore = false;
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
    const ScenarioResult result = ParseScenario(text, scenario);
    if (!result.ok) {
        FailScenario(std::string(path) + ":" + std::to_string(result.errorLine) + ": " +
                     result.error);
    }
    SimulateProcessor(scenario);
}

SimulatedState& LoadedState() {
    if (!State().loaded) {
        LoadScenarioFromEnvironment();
    }
    return State();
}

}  // namespace

void SimulateProcessor(const Scenario& scenario) {
    SimulatedState& state = State();
    state.loaded = true;
    state.scenario = scenario;
    state.elapsedMs = 0;
    state.tickReadBefore = false;
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
    const SimulatedState& state = LoadedState();
    return state.scenario.tscStart + state.scenario.tscPerMs * state.elapsedMs;
}

bool HardwarePrepareMillisecondTick() {
    SimulatedState& state = LoadedState();
    state.tickPrepared = true;
    return state.scenario.tickReadable;
}

uint32_t HardwareMillisecondTick() {
    SimulatedState& state = LoadedState();
    if (state.tickReadBefore) {
        state.elapsedMs += state.scenario.tickStep;
    }
    state.tickReadBefore = true;
    return static_cast<uint32_t>(state.scenario.tickStart + state.elapsedMs);
}
