// The report's shape on random processors: a few hundred scenario files a run, each with
// random answers (bytes that are not text included), sometimes no CPUID, and random tick and
// counter directives, are run through cpuprobe-sim, and every report must have the fixed
// 18-line shape with values that follow from the registers written.
//
// The seed is printed with any failure; CPUPROBE_SHAPE_SEED=N replays that run, and the
// failing scenario file is kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "fuzz/probe_oracle.h"
#include "tests/support/process.h"
#include "tests/support/report_cases.h"
#include "tests/support/report_shape.h"

namespace {

constexpr int kScenariosPerRun = 300;

constexpr uint32_t kVendorLeaf = 0x0;
constexpr uint32_t kSignatureLeaf = 0x1;
constexpr uint32_t kExtendedRangeLeaf = 0x80000000;
constexpr uint32_t kExtendedFeatureLeaf = 0x80000001;
constexpr uint32_t kNameLeaves[] = {0x80000002, 0x80000003, 0x80000004};

// ---- Random scenarios ----------------------------------------------------------------------

struct Generator {
    std::mt19937_64 engine;

    uint64_t Below(uint64_t bound) { return engine() % bound; }
    bool OneIn(uint64_t n) { return Below(n) == 0; }
    uint32_t Any32() { return static_cast<uint32_t>(engine()); }
    uint64_t Any64() { return engine(); }

    // Mostly printable characters, some zero bytes (which end a text early) and any byte at
    // all (line feeds, carriage returns, bytes above 0x7F).
    uint32_t TextRegister() {
        uint32_t reg = 0;
        for (int byte = 0; byte < 4; ++byte) {
            const uint64_t kind = Below(20);
            const uint64_t value = kind < 12 ? 0x20 + Below(0x5F) : kind < 15 ? 0 : Below(256);
            reg |= static_cast<uint32_t>(value) << (8 * byte);
        }
        return reg;
    }

    uint32_t Pick(std::initializer_list<uint32_t> choices) {
        return *(choices.begin() + Below(choices.size()));
    }
};

// printf's formatting into a string; every format here is a literal that fits the buffer.
template <typename... Values>
std::string Format(const char* format, Values... values) {
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// One leaf line, in the dump form or in the `cpuid -r` form.
std::string LeafLine(Generator& gen, uint32_t leaf, const CpuidRegisters& r) {
    if (gen.OneIn(2)) {
        return Format("CPUID %08X: %08X-%08X-%08X-%08X\n", leaf, r.eax, r.ebx, r.ecx, r.edx);
    }
    return Format("   0x%08x 0x00: eax=0x%08x ebx=0x%08x ecx=0x%08x edx=0x%08x\n", leaf, r.eax,
                  r.ebx, r.ecx, r.edx);
}

std::string NumberText(Generator& gen, uint64_t value) {
    return gen.OneIn(2) ? Format("%" PRIu64, value) : Format("0x%" PRIx64, value);
}

CpuidRegisters RandomAnswer(Generator& gen, uint32_t leaf) {
    CpuidRegisters r{gen.Any32(), gen.Any32(), gen.Any32(), gen.Any32()};
    if (leaf == kVendorLeaf) {
        r = {gen.Pick({0, 1, 2, 0xD, 0x16, gen.Any32()}), gen.TextRegister(), gen.TextRegister(),
             gen.TextRegister()};
    } else if (leaf == kExtendedRangeLeaf) {
        r.eax = gen.Pick(
            {0, 2, 0x80000000, 0x80000001, 0x80000003, 0x80000004, 0x80000008, gen.Any32()});
    } else if (leaf >= kNameLeaves[0]) {
        r = {gen.TextRegister(), gen.TextRegister(), gen.TextRegister(), gen.TextRegister()};
    }
    return r;
}

// Fills `scenario` the way the scenario reader must read the text returned.
std::string RandomScenario(Generator& gen, Scenario& scenario) {
    std::vector<std::string> lines = {"# random processor\n", "Leaf   Sub   EAX\n"};
    const uint32_t leaves[] = {kVendorLeaf,          kSignatureLeaf, kExtendedRangeLeaf,
                               kExtendedFeatureLeaf, kNameLeaves[0], kNameLeaves[1],
                               kNameLeaves[2]};
    for (const uint32_t leaf : leaves) {
        if (gen.OneIn(10)) {
            continue;  // an unlisted leaf answers zeros
        }
        const CpuidRegisters answer = RandomAnswer(gen, leaf);
        scenario.leaves[leaf] = answer;
        lines.push_back(LeafLine(gen, leaf, answer));
        if (gen.OneIn(8)) {
            lines.push_back(LeafLine(gen, leaf, RandomAnswer(gen, leaf)));  // the first one wins
        }
    }
    if (gen.OneIn(8)) {
        scenario.idBitCanChange = false;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(gen.Below(lines.size())),
                     "@no-cpuid\n");
    }
    if (gen.OneIn(2)) {
        scenario.tickStart = gen.Pick({0, 0xFFFFFF00, 0xFFFFFFFF}) + (gen.Any64() & ~0xFFFFFFFFull);
        lines.push_back("@tick-start " + NumberText(gen, scenario.tickStart) + "\n");
    }
    if (gen.OneIn(2)) {
        // A step must move the 32-bit tick count; small ones make the wait take many reads.
        const uint64_t step = gen.OneIn(2) ? 1 + gen.Below(600) : gen.Any64();
        scenario.tickStep = static_cast<uint32_t>(step) == 0 ? step + 1 : step;
        lines.push_back("@tick-step " + NumberText(gen, scenario.tickStep) + "\n");
    }
    if (gen.OneIn(2)) {
        scenario.tscStart = gen.Any64();
        lines.push_back("@tsc-start " + NumberText(gen, scenario.tscStart) + "\n");
    }
    if (gen.OneIn(2)) {
        // Rates of n.25 or n.75 MHz over a wait of exactly 500 ms are exact halves for the one
        // decimal.
        const uint64_t exactHalf = 1000 * gen.Below(10000) + gen.Pick({250, 750});
        const uint64_t kind = gen.Below(3);
        scenario.tscPerMs = kind == 0 ? exactHalf : kind == 1 ? gen.Below(10000000) : gen.Any64();
        lines.push_back("@tsc-per-ms " + NumberText(gen, scenario.tscPerMs) + "\n");
    }
    std::string text;
    for (const std::string& line : lines) {
        text += line;
    }
    return text;
}

// ---- What the report must say --------------------------------------------------------------

bool Bit(uint32_t reg, int bit) { return ((reg >> bit) & 1) != 0; }

std::string TextOf(const std::vector<uint32_t>& registers) {
    std::string bytes;
    for (const uint32_t reg : registers) {
        for (int byte = 0; byte < 4; ++byte) {
            bytes += static_cast<char>((reg >> (8 * byte)) & 0xFF);
        }
    }
    return bytes.substr(0, bytes.find('\0'));
}

struct FlagSource {
    const char* label;
    uint32_t leaf;
    int bit;
    ProbeStage readFrom;
    int extendedBit;  // the bit of leaf 0x80000001 EDX that replaces it there, or kNoBit
};
constexpr int kNoBit = -1;

// The flags in report order, each with the leaf whose EDX bit gives it. SSE_INT is given by
// leaf 1 until the probe reaches leaf 0x80000001, whose bit 22 then replaces it.
constexpr FlagSource kFlagLines[] = {
    {"FPU    ", kSignatureLeaf, 0, ProbeStage::kStandard, kNoBit},
    {"TSC    ", kSignatureLeaf, 4, ProbeStage::kStandard, kNoBit},
    {"MSR    ", kSignatureLeaf, 5, ProbeStage::kStandard, kNoBit},
    {"CMOV   ", kSignatureLeaf, 15, ProbeStage::kStandard, kNoBit},
    {"MMX    ", kSignatureLeaf, 23, ProbeStage::kStandard, kNoBit},
    {"3DNow! ", kExtendedFeatureLeaf, 31, ProbeStage::kExtendedFlags, kNoBit},
    {"SSE_INT    ", kSignatureLeaf, 25, ProbeStage::kStandard, 22},
    {"SSE_FP     ", kSignatureLeaf, 25, ProbeStage::kStandard, kNoBit},
    {"3DNow! Ext ", kExtendedFeatureLeaf, 30, ProbeStage::kExtendedFlags, kNoBit},
};
constexpr int kTscBit = 4;
constexpr int kFpuBit = 0;
constexpr int kCmovBit = 15;

bool FlagSet(const Scenario& s, ProbeStage stage, const FlagSource& flag) {
    if (flag.extendedBit != kNoBit && stage >= ProbeStage::kExtendedFlags) {
        return Bit(ScenarioLeaf(s, kExtendedFeatureLeaf).edx, flag.extendedBit);
    }
    return stage >= flag.readFrom && Bit(ScenarioLeaf(s, flag.leaf).edx, flag.bit);
}

bool StandardBit(const Scenario& s, ProbeStage stage, int bit) {
    return stage >= ProbeStage::kStandard && Bit(ScenarioLeaf(s, kSignatureLeaf).edx, bit);
}

// The whole report the registers written must give, byte for byte.
std::string ExpectedReport(const Scenario& s) {
    const ProbeStage stage = ReachedStage(s);
    const bool vendor = stage >= ProbeStage::kVendor;
    const bool standard = stage >= ProbeStage::kStandard;
    const CpuidRegisters leaf0 = ScenarioLeaf(s, kVendorLeaf);
    std::vector<uint32_t> name;
    for (const uint32_t leaf : kNameLeaves) {
        const CpuidRegisters part = ScenarioLeaf(s, leaf);
        name.insert(name.end(), {part.eax, part.ebx, part.ecx, part.edx});
    }
    const uint32_t signature = standard ? ScenarioLeaf(s, kSignatureLeaf).eax : 0;
    const bool tsc = StandardBit(s, stage, kTscBit);

    std::string report = "VenderID  " + (vendor ? TextOf({leaf0.ebx, leaf0.edx, leaf0.ecx}) : "");
    report += "\nCpuName   " + (stage >= ProbeStage::kName ? TextOf(name) : "") + "\n";
    report += Format("TypeID %u, FamilyID %u, ModelID %u, SteppingID %u\n", (signature >> 12) & 3,
                     (signature >> 8) & 0xF, (signature >> 4) & 0xF, signature & 0xF);
    report += "CpuClock " + (tsc ? ExactOneDecimal(ExpectedClock(s)) : "0.0") + "MHz\n\n";
    report += Format("CPUID       %d\n", vendor ? 1 : 0);
    report += Format("CPUIDMax    %x\n", vendor ? leaf0.eax : 0);
    report += Format("CPUIDExtMax %x\n", standard ? ScenarioLeaf(s, kExtendedRangeLeaf).eax : 0);
    for (const FlagSource& flag : kFlagLines) {
        report += flag.label + std::string(FlagSet(s, stage, flag) ? "1" : "0") + "\n";
    }
    const bool fcmov = StandardBit(s, stage, kFpuBit) && StandardBit(s, stage, kCmovBit);
    return report + "FCMOV      " + (fcmov ? "1" : "0") + "\n";
}

// The report predicted from the registers, and the fixed shape of any report, which the
// texts' raw bytes break only where they hold line ends.
void CheckReport(const std::string& report, const Scenario& s) {
    const std::string expected = ExpectedReport(s);
    EXPECT_EQ(report, expected);
    const std::size_t lineEnds = static_cast<std::size_t>(
        std::count_if(expected.begin(), expected.end(), [](char c) { return c == '\n'; }));
    if (lineEnds == ReportLineCount() && expected.find('\r') == std::string::npos) {
        EXPECT_TRUE(IsWellFormedReport(report));
    }
}

uint64_t ChooseSeed() {
    if (const char* given = std::getenv("CPUPROBE_SHAPE_SEED")) {
        return std::strtoull(given, nullptr, 0);
    }
    return std::random_device{}();
}

TEST(ReportShape, RandomProcessorsGiveTheFixedEighteenLines) {
    const uint64_t seed = ChooseSeed();
    SCOPED_TRACE("seed " + std::to_string(seed) + " (CPUPROBE_SHAPE_SEED=" + std::to_string(seed) +
                 " replays this run)");
    Generator gen{std::mt19937_64(seed)};
    for (int i = 0; i < kScenariosPerRun; ++i) {
        Scenario scenario;
        const std::string text = RandomScenario(gen, scenario);
        const std::string path = WriteTempFile("shape-" + std::to_string(i) + ".txt", text);
        const ProcessResult run = RunSimulator(CPUPROBE_SIM_PATH, &path);
        SCOPED_TRACE("scenario " + std::to_string(i) + ", kept in " + path);
        ASSERT_TRUE(run.exit.exited && run.exit.status == 0)
            << "exit " << run.exit.status << " signal " << run.exit.signal << "\n"
            << run.err;
        ASSERT_EQ(run.err, "");
        CheckReport(run.out, scenario);
        if (::testing::Test::HasFailure()) {
            return;  // the scenario file stays for a look
        }
        std::remove(path.c_str());
    }
}

}  // namespace
