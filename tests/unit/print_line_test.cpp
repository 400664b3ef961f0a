// Report lines reach the stream whole, whatever their length.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "report/print_line.h"
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
    {"LongestReportLine", "CpuName   " + std::string(48, 'N') + "\n"},
    // Around the 256 bytes formatted on the stack: below, exactly, above.
    {"OneShortOfTheStackBuffer", std::string(254, 'a') + "\n"},
    {"FillsTheStackBuffer", std::string(255, 'b') + "\n"},
    {"OnePastTheStackBuffer", std::string(256, 'c') + "\n"},
    {"LongerThanAHundredAndTwentyEight", std::string(300, 'x') + "\n"},
    {"ManyKilobytes", std::string(20000, 'y') + "\n"},
    {"HighAndControlBytes", "\x01\x7f\xff\xe9\t\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Table, Line, ::testing::ValuesIn(kLineCases), RowName());

TEST(Line, FormatsEveryConversionTheReportUses) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    PrintLine(file, "%s|%d|%x|%sMHz\n", "AuthenticAMD", -7, 0x80000021u, "2596.1");
    EXPECT_EQ(ReadBack(file), "AuthenticAMD|-7|80000021|2596.1MHz\n");
}

}  // namespace
