#include "sim/scenario_text.h"

#include <cstddef>
#include <cstdint>

namespace {

const std::string kUtf8ByteOrderMark = "\xEF\xBB\xBF";
const std::string kUtf16LittleEndianMark = "\xFF\xFE";
const std::string kUtf16BigEndianMark = "\xFE\xFF";

constexpr uint32_t kReplacementCharacter = 0xFFFD;
constexpr uint32_t kFirstHighSurrogate = 0xD800;
constexpr uint32_t kFirstLowSurrogate = 0xDC00;
constexpr uint32_t kLastLowSurrogate = 0xDFFF;
constexpr uint32_t kFirstSupplementary = 0x10000;
constexpr int kSurrogateBits = 10;

enum class ByteOrder { kLittleEndian, kBigEndian };

bool StartsWith(const std::string& bytes, const std::string& prefix) {
    return bytes.compare(0, prefix.size(), prefix) == 0;
}

uint32_t ByteAt(const std::string& bytes, std::size_t at) {
    return static_cast<uint8_t>(bytes[at]);
}

uint32_t CodeUnitAt(const std::string& bytes, std::size_t at, ByteOrder order) {
    const uint32_t first = ByteAt(bytes, at);
    const uint32_t second = ByteAt(bytes, at + 1);
    return order == ByteOrder::kLittleEndian ? (second << 8) | first : (first << 8) | second;
}

bool IsHighSurrogate(uint32_t unit) {
    return unit >= kFirstHighSurrogate && unit < kFirstLowSurrogate;
}

bool IsLowSurrogate(uint32_t unit) {
    return unit >= kFirstLowSurrogate && unit <= kLastLowSurrogate;
}

void AppendUtf8(uint32_t codePoint, std::string& text) {
    const auto byte = [](uint32_t value) { return static_cast<char>(value & 0xFF); };
    if (codePoint < 0x80) {
        text += byte(codePoint);
    } else if (codePoint < 0x800) {
        text += byte(0xC0 | (codePoint >> 6));
        text += byte(0x80 | (codePoint & 0x3F));
    } else if (codePoint < kFirstSupplementary) {
        text += byte(0xE0 | (codePoint >> 12));
        text += byte(0x80 | ((codePoint >> 6) & 0x3F));
        text += byte(0x80 | (codePoint & 0x3F));
    } else {
        text += byte(0xF0 | (codePoint >> 18));
        text += byte(0x80 | ((codePoint >> 12) & 0x3F));
        text += byte(0x80 | ((codePoint >> 6) & 0x3F));
        text += byte(0x80 | (codePoint & 0x3F));
    }
}

// The UTF-16 text that starts at `at`, as UTF-8.
std::string Utf16ToUtf8(const std::string& bytes, std::size_t at, ByteOrder order) {
    std::string text;
    while (at + 1 < bytes.size()) {
        uint32_t codePoint = CodeUnitAt(bytes, at, order);
        at += 2;
        if (IsHighSurrogate(codePoint) && at + 1 < bytes.size() &&
            IsLowSurrogate(CodeUnitAt(bytes, at, order))) {
            const uint32_t low = CodeUnitAt(bytes, at, order);
            at += 2;
            codePoint = kFirstSupplementary +
                        ((codePoint - kFirstHighSurrogate) << kSurrogateBits) +
                        (low - kFirstLowSurrogate);
        } else if (IsHighSurrogate(codePoint) || IsLowSurrogate(codePoint)) {
            codePoint = kReplacementCharacter;
        }
        AppendUtf8(codePoint, text);
    }
    if (at < bytes.size()) {
        AppendUtf8(kReplacementCharacter, text);
    }
    return text;
}

}  // namespace

std::string DecodeScenarioBytes(const std::string& bytes) {
    if (StartsWith(bytes, kUtf8ByteOrderMark)) {
        return bytes.substr(kUtf8ByteOrderMark.size());
    }
    if (StartsWith(bytes, kUtf16LittleEndianMark)) {
        return Utf16ToUtf8(bytes, kUtf16LittleEndianMark.size(), ByteOrder::kLittleEndian);
    }
    if (StartsWith(bytes, kUtf16BigEndianMark)) {
        return Utf16ToUtf8(bytes, kUtf16BigEndianMark.size(), ByteOrder::kBigEndian);
    }
    return bytes;
}

ScenarioResult ReadScenarioBytes(const std::string& bytes, Scenario& scenario) {
    ScenarioResult result = ParseScenario(DecodeScenarioBytes(bytes), scenario);
    if (result.ok && result.linesRead == 0) {
        result.ok = false;
        result.errorLine = 0;
        result.error =
            "no CPUID leaf line and no directive in it: not a dump that can be replayed (leaf "
            "lines as cpuid -r or cpuprobe-dump print them, in UTF-8, or UTF-16 with a "
            "byte-order mark)";
    }
    return result;
}
