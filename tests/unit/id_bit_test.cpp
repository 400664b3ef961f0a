// The CPUID availability test looks at the ID bit alone: status flags that change between the
// two reads of the flags register must not pass for a changeable ID bit.
#include <gtest/gtest.h>

#include <cstdint>

#include "probe/id_bit.h"
#include "tests/unit/row_name.h"

namespace {

constexpr uint64_t kCarry = 0x1;
constexpr uint64_t kZero = 0x40;
constexpr uint64_t kSign = 0x80;
constexpr uint64_t kOverflow = 0x800;
constexpr uint64_t kInterrupt = 0x200;
constexpr uint64_t kAlwaysOne = 0x2;

struct IdBitCase {
    const char* name;
    uint64_t before;
    uint64_t after;
    bool changed;
};

class IdBit : public ::testing::TestWithParam<IdBitCase> {};

TEST_P(IdBit, ChangedOnlyWhenBit21Differs) {
    const IdBitCase& row = GetParam();
    EXPECT_EQ(IdBitChanged(row.before, row.after), row.changed);
}

constexpr uint64_t kTypical = kAlwaysOne | kInterrupt;

const IdBitCase kIdBitCases[] = {
    {"NothingChanged", kTypical, kTypical, false},
    {"IdBitSet", kTypical, kTypical | kFlagsIdBit, true},
    {"IdBitCleared", kTypical | kFlagsIdBit, kTypical, true},
    {"OnlyStatusFlagsChanged", kTypical, kTypical | kCarry | kZero | kSign | kOverflow, false},
    {"StatusFlagsAndIdBitChanged", kTypical | kZero, kTypical | kCarry | kFlagsIdBit, true},
    {"NeighbouringBitsChanged", kTypical, kTypical | (kFlagsIdBit << 1) | (kFlagsIdBit >> 1),
     false},
    {"UpperHalfOf64BitFlagsChanged", kTypical, kTypical | (uint64_t{1} << 40), false},
};

INSTANTIATE_TEST_SUITE_P(Table, IdBit, ::testing::ValuesIn(kIdBitCases), RowName());

}  // namespace
