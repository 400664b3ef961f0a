// A float is a 24-bit integer (the significand) times a power of two. Ten times it is exact in
// 28 bits times that power, so the tenths are found exactly: shifted left as a wide integer
// when the power is positive; shifted right, with the bits shifted out deciding the rounding,
// when it is negative. The wide integer is held in 16-bit pieces, so that dividing it by ten
// for its decimal digits needs only 32-bit division, which every x86 has in one instruction.
#include "report/one_decimal.h"

#include <stdint.h>
#include <string.h>

namespace {

// The single-precision fields.
constexpr uint32_t kSignBit = 0x80000000;
constexpr int kExponentShift = 23;
constexpr uint32_t kExponentMask = 0xFF;
constexpr uint32_t kFractionMask = 0x7FFFFF;
constexpr uint32_t kImplicitOne = 0x800000;
constexpr uint32_t kInfinityExponent = 0xFF;
// A normal float is (kImplicitOne + fraction) * 2^(exponent - kExponentBias - 23).
constexpr int kExponentBias = 127 + 23;

// Ten times the largest float is below 2^132: nine pieces of 16 bits.
constexpr int kPieceBits = 16;
constexpr uint32_t kPieceMask = 0xFFFF;
constexpr int kPieces = 9;

struct WideNumber {
    uint16_t pieces[kPieces];  // lowest first
};

WideNumber FromSmall(uint32_t value) {
    WideNumber number{};
    number.pieces[0] = static_cast<uint16_t>(value & kPieceMask);
    number.pieces[1] = static_cast<uint16_t>(value >> kPieceBits);
    return number;
}

void ShiftLeftOnce(WideNumber& number) {
    uint32_t carry = 0;
    for (uint16_t& piece : number.pieces) {
        const uint32_t doubled = (uint32_t{piece} << 1) | carry;
        piece = static_cast<uint16_t>(doubled & kPieceMask);
        carry = doubled >> kPieceBits;
    }
}

bool IsZero(const WideNumber& number) {
    uint32_t any = 0;
    for (const uint16_t piece : number.pieces) {
        any |= piece;
    }
    return any == 0;
}

// Divides by ten in place and gives the remainder, the lowest decimal digit.
uint32_t DivideByTen(WideNumber& number) {
    uint32_t remainder = 0;
    for (int i = kPieces - 1; i >= 0; --i) {
        const uint32_t part = (remainder << kPieceBits) | number.pieces[i];
        number.pieces[i] = static_cast<uint16_t>(part / 10);
        remainder = part % 10;
    }
    return remainder;
}

// Ten times significand * 2^power, rounded to the nearest integer, halves up.
WideNumber RoundedTenths(uint32_t significand, int power) {
    const uint32_t scaled = significand * 10;  // below 2^28
    if (power >= 0) {
        WideNumber number = FromSmall(scaled);
        for (int i = 0; i < power; ++i) {
            ShiftLeftOnce(number);
        }
        return number;
    }
    const int dropped = -power;
    if (dropped >= 32) {
        return FromSmall(0);  // below 2^28 / 2^32: under half of one tenth
    }
    const uint32_t whole = scaled >> dropped;
    const uint32_t rest = scaled & ((uint32_t{1} << dropped) - 1);
    const uint32_t half = uint32_t{1} << (dropped - 1);
    return FromSmall(rest >= half ? whole + 1 : whole);
}

// The digits of the tenths, the units digit at least: "0.4", not ".4".
void WriteTenths(WideNumber tenths, char* text) {
    char reversed[kOneDecimalTextSize];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + DivideByTen(tenths));
    } while (!IsZero(tenths) || count < 2);
    while (count > 1) {
        *text++ = reversed[--count];
    }
    *text++ = '.';
    *text++ = reversed[0];
    *text = '\0';
}

}  // namespace

void FormatOneDecimal(const float& value, char (&text)[kOneDecimalTextSize]) {
    uint32_t bits = 0;
    memcpy(&bits, &value, sizeof bits);
    char* out = text;
    if ((bits & kSignBit) != 0) {
        *out++ = '-';
    }
    const uint32_t exponent = (bits >> kExponentShift) & kExponentMask;
    const uint32_t fraction = bits & kFractionMask;
    if (exponent == kInfinityExponent) {
        memcpy(out, fraction == 0 ? "inf" : "nan", sizeof "inf");
        return;
    }
    // Subnormals have no implicit one and the exponent of the smallest normal.
    const uint32_t significand = exponent != 0 ? fraction | kImplicitOne : fraction;
    const int power = static_cast<int>(exponent != 0 ? exponent : 1) - kExponentBias;
    WriteTenths(RoundedTenths(significand, power), out);
}
