// The simulated processor's time, read by read: without @read-ns reads take no time and the
// spin through a step is skipped, with a tick read left at its very end; with @read-ns every
// read takes that long and the tick shows the whole steps that have passed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "probe/hardware.h"
#include "sim/scenario.h"
#include "sim/simulated_processor.h"
#include "tests/unit/row_name.h"

namespace {

struct TimeCase {
    const char* name;
    uint64_t readNs;
    uint64_t tickStep;
    std::vector<LateRead> lateReads;
    const char* reads;  // 'T' a tick read, 'C' a counter read, in order
    std::vector<uint64_t> expected;
};

class SimulatedTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(SimulatedTime, GivesEachReadItsValue) {
    const TimeCase& row = GetParam();
    Scenario scenario;
    scenario.readNs = row.readNs;
    scenario.tickStep = row.tickStep;
    scenario.lateReads = row.lateReads;
    SimulateProcessor(scenario);
    std::vector<uint64_t> got;
    for (const char* read = row.reads; *read != '\0'; ++read) {
        got.push_back(*read == 'T' ? HardwareMillisecondTick() : HardwareTimeStampCounter());
    }
    EXPECT_EQ(got, row.expected);
}

constexpr uint64_t kMs = 1000000;  // counts of the default 1 GHz counter in a ms

const TimeCase kTimeCases[] = {
    // The second tick read finds the step the first found: the reads after it come at the
    // end of the step, where the counter has run 16 ms, the first tick read still shows 0 and
    // the next one shows the step at 16 begin.
    {"CoarseSpinsToTheStepEnd",
     0,
     16,
     {},
     "CTCTCTCTC",
     {0, 0, 0, 0, 16 * kMs, 0, 16 * kMs, 16, 16 * kMs}},
    // 0.4 ms a read: the fourth tick read, at 1.2 ms, is the first to show the step at 1.
    {"FineTickShowsTheWholeStepsPassed", 400000, 1, {}, "TTTTT", {0, 0, 0, 1, 1}},
    {"FineCounterRunsWithEachRead", 250, 1, {}, "CCTC", {0, 250, 0, 750}},
    // A counter read 0.6 ms late within a 1 ms step; the tick read 0.25 us on still shows 0.
    {"FineLateByAFraction", 250, 1, {{SimulatedRead::kCounter, 0, 0, 600000}}, "CT", {600000, 0}},
};

INSTANTIATE_TEST_SUITE_P(Table, SimulatedTime, ::testing::ValuesIn(kTimeCases), RowName());

}  // namespace
