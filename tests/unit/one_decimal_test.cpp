// FormatOneDecimal: the exact value of the float, rounded to one decimal with exact halves
// away from zero. Apart from those halves it must agree with printf's "%.1f".
#include "report/one_decimal.h"
#include "tests/unit/row_name.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The formatted text, as a string to compare.
std::string Formatted(float value) {
    char text[kOneDecimalTextSize];
    FormatOneDecimal(value, text);
    return text;
}

struct FormatCase {
    const char* name;
    float value;
    const char* text;
};

class OneDecimal : public ::testing::TestWithParam<FormatCase> {};

TEST_P(OneDecimal, Formats) {
    const FormatCase& row = GetParam();
    EXPECT_EQ(Formatted(row.value), row.text);
}

const FormatCase kFormatCases[] = {
    {"Zero", 0.0f, "0.0"},
    {"OneThousand", 1000.0f, "1000.0"},
    {"Half", 0.5f, "0.5"},
    // Exact halves of a tenth go away from zero, where printf would go to even.
    {"Tie466_25", 466.25f, "466.3"},
    {"Tie2_25", 2.25f, "2.3"},
    {"Tie0_25", 0.25f, "0.3"},
    {"Tie0_75", 0.75f, "0.8"},
    {"TieLargest", 4194303.75f, "4194303.8"},
    // Not exact halves: the float lies above or below the decimal.
    {"JustAbove0_05", 0.05f, "0.1"},
    {"JustAbove0_15", 0.15f, "0.2"},
    {"JustBelow0_35", 0.35f, "0.3"},
    {"JustAbove1_45", 1.45f, "1.5"},
    {"BelowTie466_25", std::nextafter(466.25f, 0.0f), "466.2"},
    {"AboveTie466_25", std::nextafter(466.25f, 1000.0f), "466.3"},
    {"BelowTie2_25", std::nextafter(2.25f, 0.0f), "2.2"},
    {"AboveTie2_25", std::nextafter(2.25f, 3.0f), "2.3"},
    {"JustBelow9_95", 9.95f, "9.9"},
    {"CarryToTen", 9.96f, "10.0"},
    {"CarryToOneHundred", 99.97f, "100.0"},
    {"Tiny", 1e-30f, "0.0"},
    {"SmallestSubnormal", std::nextafter(0.0f, 1.0f), "0.0"},
    // Large values print every digit of the exact value.
    {"TwoToThe24", 16777216.0f, "16777216.0"},
    {"ThreeTimesTenToThe10", 3.0e10f, "30000001024.0"},
    {"Largest", FLT_MAX, "340282346638528859811704183484516925440.0"},
    // Negative values keep their sign, even when they round to zero, as printf does.
    {"NegativeTie", -466.25f, "-466.3"},
    {"NegativeTieSmall", -2.25f, "-2.3"},
    {"Negative", -1.04f, "-1.0"},
    {"NegativeZero", -0.0f, "-0.0"},
    {"NegativeRoundingToZero", -0.04f, "-0.0"},
    {"NegativeLargest", -FLT_MAX, "-340282346638528859811704183484516925440.0"},
    // Not numbers: spelled as glibc's printf spells them.
    {"Infinity", HUGE_VALF, "inf"},
    {"NegativeInfinity", -HUGE_VALF, "-inf"},
    {"NotANumber", std::nanf(""), "nan"},
    {"NegativeNotANumber", -std::nanf(""), "-nan"},
};

INSTANTIATE_TEST_SUITE_P(Table, OneDecimal, ::testing::ValuesIn(kFormatCases), RowName());

// The reference: printf's "%.1f", which is exact apart from the direction of exact halves;
// for those the tenths are worked out by hand, away from zero.
std::string ReferenceOneDecimal(float value) {
    const double tenths = static_cast<double>(value) * 10.0;  // exact: 24 + 4 bits
    const double magnitude = std::fabs(tenths);
    const bool exactHalf = magnitude < 0x1p52 && magnitude - std::floor(magnitude) == 0.5;
    char text[64];
    if (!exactHalf) {
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(value));
        return text;
    }
    const auto roundedTenths = static_cast<int64_t>(std::floor(magnitude)) + 1;
    std::snprintf(text, sizeof text, "%s%" PRId64 ".%" PRId64, value < 0 ? "-" : "",
                  roundedTenths / 10, roundedTenths % 10);
    return text;
}

float FloatFromBits(uint32_t bits) {
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

constexpr uint32_t kSignBit = 0x80000000;
constexpr uint32_t kLargestFiniteBits = 0x7F7FFFFF;

// Floats spread over the whole finite range, both signs.
TEST(OneDecimalSweep, AgreesWithReferenceAcrossTheRange) {
    constexpr uint32_t kStride = 9973;  // prime, so the low bits vary too
    for (uint32_t bits = 0; bits <= kLargestFiniteBits; bits += kStride) {
        for (const uint32_t sign : {0u, kSignBit}) {
            const float value = FloatFromBits(bits | sign);
            ASSERT_EQ(Formatted(value), ReferenceOneDecimal(value))
                << "bits 0x" << std::hex << (bits | sign);
        }
    }
}

// Every quarter up to 20000 (half of them exact ties) and the floats on either side of it.
TEST(OneDecimalSweep, AgreesWithReferenceAroundQuarters) {
    for (int quarters = 0; quarters <= 80000; ++quarters) {
        const float quarter = static_cast<float>(quarters) / 4.0f;
        for (const float value :
             {std::nextafter(quarter, 0.0f), quarter, std::nextafter(quarter, FLT_MAX), -quarter}) {
            ASSERT_EQ(Formatted(value), ReferenceOneDecimal(value)) << value;
        }
    }
}

// Floats from 1/32 to 64, densely: where most of the fractional digits are.
TEST(OneDecimalSweep, AgreesWithReferenceForEverySmallFloat) {
    const uint32_t last = 0x42800000;                             // 64.0f
    for (uint32_t bits = 0x3D000000; bits <= last; bits += 97) {  // from 1/32
        const float value = FloatFromBits(bits);
        ASSERT_EQ(Formatted(value), ReferenceOneDecimal(value)) << "bits 0x" << std::hex << bits;
    }
}

}  // namespace
