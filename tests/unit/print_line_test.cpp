// Report lines reach the stream whole, up to the longest line the report can have.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "report/print_line.h"
#include "report/report_output.h"
#include "tests/unit/row_name.h"

namespace {

// Everything written to a scratch file, read back from its start.
std::string ReadBack(std::FILE* file) {
    std::rewind(file);
    std::string back;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        back += static_cast<char>(c);
    }
    std::fclose(file);
    return back;
}

// What PrintLine writes for "%s" and the text.
std::string Printed(const std::string& text) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        ADD_FAILURE() << "no scratch file";
        return "";
    }
    PrintLine(file, "%s", text.c_str());
    return ReadBack(file);
}

struct LineCase {
    const char* name;
    std::string text;
};

class Line : public ::testing::TestWithParam<LineCase> {};

TEST_P(Line, ReachesTheStreamWhole) { EXPECT_EQ(Printed(GetParam().text), GetParam().text); }

const LineCase kLineCases[] = {
    {"Blank", "\n"},
    {"Empty", ""},
    {"NameLine", "CpuName   " + std::string(48, 'N') + "\n"},
    // Around the longest line the report can have: below it, and exactly it.
    {"OneShortOfTheLongestLine", std::string(kLongestReportLine - 2, 'a') + "\n"},
    {"TheLongestLine", std::string(kLongestReportLine - 1, 'b') + "\n"},
    {"HighAndControlBytes", "\x01\x7f\xff\xe9\t\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Table, Line, ::testing::ValuesIn(kLineCases), RowName());

// Longer than any report line: cut at the bound, never written past the buffer.
TEST(Line, CutsALineLongerThanTheLongestReportLine) {
    for (const std::size_t length : {kLongestReportLine + 1, std::size_t{20000}}) {
        EXPECT_EQ(Printed(std::string(length, 'c')), std::string(kLongestReportLine, 'c'));
    }
}

// The signature line with every field at the widest a 32-bit number prints.
TEST(Line, TheWidestSignatureLineReachesTheStreamWhole) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    CpuInfo info{};
    info.TypeID = info.FamilyID = info.ModelID = info.SteppingID = INT32_MIN;
    WriteReport(file, info);
    const std::string widest =
        "TypeID -2147483648, FamilyID -2147483648, ModelID -2147483648, SteppingID -2147483648\n";
    ASSERT_EQ(widest.size(), kLongestReportLine);
    EXPECT_NE(ReadBack(file).find("\n" + widest), std::string::npos);
}

TEST(Line, FormatsEveryConversionTheReportUses) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    PrintLine(file, "%s|%d|%x|%sMHz\n", "AuthenticAMD", -7, 0x80000021u, "2596.1");
    EXPECT_EQ(ReadBack(file), "AuthenticAMD|-7|80000021|2596.1MHz\n");
}

}  // namespace
