// The simulated tick and counter, read in the orders the clock measurement reads them: the
// clock's own tests rely on these times being right, late reads and a stopped tick included.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "probe/hardware.h"
#include "tests/sim/scenario.h"
#include "tests/sim/simulated_processor.h"
#include "tests/unit/row_name.h"

namespace {

// One read: 'T' for the tick, 'C' for the counter, with what it must return (the counter in
// simulated ms, as tsc-per-ms is 1 here).
struct Read {
    char what;
    uint64_t expected;
};

struct SimulatedTickCase {
    const char* name;
    uint64_t tickStep;
    uint64_t tickStopsAtMs;
    std::vector<LateRead> lateReads;
    std::vector<Read> reads;
};

class SimulatedTick : public ::testing::TestWithParam<SimulatedTickCase> {};

TEST_P(SimulatedTick, ReadsGiveTheirTimes) {
    const SimulatedTickCase& row = GetParam();
    Scenario scenario;
    scenario.tickStep = row.tickStep;
    scenario.tickStopsAtMs = row.tickStopsAtMs;
    scenario.lateReads = row.lateReads;
    scenario.tscPerMs = 1;
    SimulateProcessor(scenario);
    for (std::size_t i = 0; i < row.reads.size(); ++i) {
        const Read& read = row.reads[i];
        const uint64_t got =
            read.what == 'T' ? HardwareMillisecondTick() : HardwareTimeStampCounter();
        EXPECT_EQ(got, read.expected) << "read " << i << " (" << read.what << ")";
    }
}

constexpr SimulatedRead kTick = SimulatedRead::kTick;
constexpr SimulatedRead kCounter = SimulatedRead::kCounter;

const SimulatedTickCase kSimulatedTickCases[] = {
    {"SpinningSeesEachStep", 16, kTickNeverStops, {}, {{'T', 0}, {'T', 16}, {'T', 32}}},
    // The counter and the tick read right after it take no time; spinning goes on from there.
    {"ReadsAroundTheCounterTakeNoTime",
     16,
     kTickNeverStops,
     {},
     {{'C', 0}, {'T', 0}, {'T', 16}, {'C', 16}, {'T', 16}, {'T', 32}, {'C', 32}}},
    // 32 + 5 ms falls within the step that began at 32; spinning then sees the next at 48.
    {"LateTickReadWithinACoarseStep",
     16,
     kTickNeverStops,
     {{kTick, 32, 5}},
     {{'T', 0}, {'T', 16}, {'T', 32}, {'C', 37}, {'T', 32}, {'T', 48}, {'C', 48}}},
    {"LateTickReadSkipsSteps",
     1,
     kTickNeverStops,
     {{kTick, 3, 4}},
     {{'T', 0}, {'T', 1}, {'T', 2}, {'T', 7}, {'T', 8}}},
    {"LateCounterRead",
     1,
     kTickNeverStops,
     {{kCounter, 2, 3}},
     {{'C', 0}, {'T', 0}, {'T', 1}, {'T', 2}, {'C', 5}, {'T', 5}, {'T', 6}}},
    // Each late read fires once, at the first read of its kind due at its time or later.
    {"LateReadsFireOnceEach",
     1,
     kTickNeverStops,
     {{kTick, 1, 2}, {kTick, 1, 10}},
     {{'T', 0}, {'T', 13}, {'T', 14}}},
    {"TickStops", 1, 2, {}, {{'T', 0}, {'T', 1}, {'T', 2}, {'T', 2}, {'T', 2}, {'C', 2}}},
    {"TickStopsFromTheStart", 16, 0, {}, {{'T', 0}, {'T', 0}, {'C', 0}}},
};

INSTANTIATE_TEST_SUITE_P(Table, SimulatedTick, ::testing::ValuesIn(kSimulatedTickCases), RowName());

}  // namespace
