#include "fuzz/probe_oracle.h"

#include <cstring>

namespace {

constexpr uint32_t kWaitMilliseconds = 500;
constexpr double kMegahertzPerCyclePer500Ms = 2e-6;
constexpr double kMicrosecondsPerMillisecond = 1000.0;

// The float layout: 1 sign bit, 8 exponent bits, 23 fraction bits.
constexpr uint32_t kFloatSignBit = 0x80000000u;
constexpr int kFloatFractionBits = 23;
constexpr uint32_t kFloatFractionMask = (1u << kFloatFractionBits) - 1;
constexpr uint32_t kFloatExponentMask = 0xFFu;
constexpr int kFloatExponentBias = 127;

// A decimal number as a string of digits, most significant first.
std::string DoubleDecimal(const std::string& digits) {
    std::string result(digits.size(), '0');
    int carry = 0;
    for (std::size_t i = digits.size(); i-- > 0;) {
        const int doubled = (digits[i] - '0') * 2 + carry;
        result[i] = static_cast<char>('0' + doubled % 10);
        carry = doubled / 10;
    }
    return carry != 0 ? "1" + result : result;
}

// tenths * 2^exponent rounded to an integer, halves up (the value is a magnitude).
std::string ScaledTenths(uint64_t tenths, int exponent) {
    if (exponent >= 0) {
        std::string digits = std::to_string(tenths);
        for (int i = 0; i < exponent; ++i) {
            digits = DoubleDecimal(digits);
        }
        return digits;
    }
    const int shift = -exponent;
    if (shift >= 63) {
        return "0";  // tenths is below 2^28, so the value is far below one half
    }
    const uint64_t whole = tenths >> shift;
    const uint64_t remainder = tenths - (whole << shift);
    const bool halfOrMore = 2 * remainder >= (uint64_t{1} << shift);
    return std::to_string(whole + (halfOrMore ? 1 : 0));
}

}  // namespace

CpuidRegisters ScenarioLeaf(const Scenario& scenario, uint32_t leaf) {
    const auto found = scenario.leaves.find(leaf);
    return found == scenario.leaves.end() ? CpuidRegisters{0, 0, 0, 0} : found->second;
}

ProbeStage ReachedStage(const Scenario& scenario) {
    if (!scenario.idBitCanChange) {
        return ProbeStage::kNoCpuid;
    }
    if (ScenarioLeaf(scenario, 0).eax == 0) {
        return ProbeStage::kVendor;
    }
    const uint32_t extendedMax = ScenarioLeaf(scenario, 0x80000000).eax;
    if (extendedMax <= 0x80000000) {
        return ProbeStage::kStandard;
    }
    if (extendedMax <= 0x80000003) {
        return ProbeStage::kExtendedFlags;
    }
    return ProbeStage::kName;
}

// The wait starts at the first step after the first tick read and ends at the first step whose
// distance from it, modulo 2^32, reaches 500; the simulated clock has then moved on by that many
// steps. A difference whose top bit is set is a counter that went backwards, which gives no
// rate. The cycles are taken over the milliseconds counted; over exactly 500 as cycles * 2e-6.
float ExpectedClock(const Scenario& scenario) {
    uint64_t elapsed = 0;
    do {
        elapsed += scenario.tickStep;
    } while (static_cast<uint32_t>(elapsed) < kWaitMilliseconds);
    const uint64_t cycles = scenario.tscPerMs * elapsed;
    if ((cycles >> 63) != 0) {
        return 0.0f;
    }
    const uint32_t counted = static_cast<uint32_t>(elapsed);
    if (counted == kWaitMilliseconds) {
        return static_cast<float>(static_cast<double>(cycles) * kMegahertzPerCyclePer500Ms);
    }
    return static_cast<float>(static_cast<double>(cycles) /
                              (counted * kMicrosecondsPerMillisecond));
}

std::string ExactOneDecimal(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const uint32_t fraction = bits & kFloatFractionMask;
    const uint32_t biasedExponent = (bits >> kFloatFractionBits) & kFloatExponentMask;
    // value = significand * 2^exponent exactly; subnormals have no hidden bit.
    const uint64_t significand =
        biasedExponent == 0 ? fraction : (fraction | (1u << kFloatFractionBits));
    const int exponent = (biasedExponent == 0 ? 1 : static_cast<int>(biasedExponent)) -
                         kFloatExponentBias - kFloatFractionBits;

    std::string digits = ScaledTenths(significand * 10, exponent);
    if (digits.size() == 1) {
        digits.insert(0, "0");
    }
    digits.insert(digits.size() - 1, ".");
    return ((bits & kFloatSignBit) != 0 ? "-" : "") + digits;
}
