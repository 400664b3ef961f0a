// The path of the bug-report file beside the program: whole where it fits, and where it does
// not, a path that is still a terminated text (the file's name) and the reason, never what the
// buffer held before.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "report/beside_program.h"
#include "tests/unit/row_name.h"

namespace {

constexpr const char* kName = "cpuprobe-dump.txt";
const std::size_t kNameLength = std::strlen(kName);

struct PathCase {
    const char* name;
    std::string folder;
    char separator;
    bool fits;
    std::string shown;
};

class BesideProgram : public ::testing::TestWithParam<PathCase> {};

TEST_P(BesideProgram, ShowsThePathOrTheNameAndWhy) {
    const PathCase& row = GetParam();
    FileBesideProgram opened;
    std::memset(&opened, 'x', sizeof opened);  // whatever the stack held

    EXPECT_EQ(PathBesideProgram(row.folder.c_str(), row.separator, kName, opened), row.fits);
    EXPECT_EQ(opened.file, nullptr);
    EXPECT_EQ(std::string(opened.shownPath), row.shown);
    EXPECT_EQ(opened.problem == nullptr, row.fits);
}

// The longest folder whose path, separator and name included, still leaves room for the
// terminating zero.
const std::string kLongestFolder(kLongestShownPath - 2 - kNameLength, 'f');

const PathCase kPathCases[] = {
    {"Posix", "/home/user/cpuprobe", '/', true, "/home/user/cpuprobe/cpuprobe-dump.txt"},
    {"Windows", "C:\\Tools", '\\', true, "C:\\Tools\\cpuprobe-dump.txt"},
    {"CurrentFolder", ".", '\\', true, ".\\cpuprobe-dump.txt"},
    {"LongestFolderThatFits", kLongestFolder, '/', true, kLongestFolder + "/cpuprobe-dump.txt"},
    {"OneTooLong", kLongestFolder + "f", '\\', false, kName},
    {"FarTooLong", std::string(3 * kLongestShownPath, 'f'), '/', false, kName},
};

INSTANTIATE_TEST_SUITE_P(Table, BesideProgram, ::testing::ValuesIn(kPathCases), RowName());

}  // namespace
