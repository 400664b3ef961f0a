// The commands the documents print, taken from the documents themselves and run as a reader
// pastes them into bash, one line at a time, so that a wrong path, target or test name fails
// here rather than on a reader.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/report_shape.h"
#include "tests/support/saved_text.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSource = CPUPROBE_SOURCE_DIR;
const fs::path kProcessors = kSource / "tests/data/processors/linux-cpuid-r";
constexpr const char* kProcessor = "qemu-phenom";
constexpr const char* kOtherProcessor = "qemu-core2duo";

// The lines of every fenced code block in the section of the document that starts with the
// line `heading`, up to the next heading of its level, without the blocks' own indentation.
std::vector<std::string> SectionCommands(const fs::path& document, const std::string& heading) {
    std::ifstream file(document);
    std::vector<std::string> commands;
    bool inSection = false, inBlock = false;
    std::size_t indent = 0;
    for (std::string line; std::getline(file, line);) {
        if (line == heading) {
            inSection = true;
        } else if (inSection && line.rfind("## ", 0) == 0) {
            break;
        } else if (inSection && line.find_first_not_of(' ') != std::string::npos &&
                   line.compare(line.find_first_not_of(' '), 3, "```") == 0) {
            inBlock = !inBlock;
            indent = line.find_first_not_of(' ');
        } else if (inBlock && line.size() > indent) {
            commands.push_back(line.substr(indent));
        }
    }
    return commands;
}

// Runs the lines one by one in the folder, each by bash with stdin at its end, up to the first
// that fails: true when every one succeeded. What they printed goes to `shown`.
bool RunAsPasted(const fs::path& folder, const std::vector<std::string>& lines,
                 std::string& shown) {
    for (const std::string& line : lines) {
        Command bash;
        bash.argv = {"bash", "-o", "pipefail", "-c", line};
        bash.directory = folder.string();
        const ProcessResult result = RunProcess(bash, "");
        shown += "$ " + line + "\n" + result.out + result.err;
        if (!result.exit.exited || result.exit.status != 0) {
            return false;
        }
    }
    return true;
}

void Write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A report as the reporter's own run gives it, saved on Windows: the measured clock, CR LF.
std::string ReportAsSaved(const std::string& processor) {
    std::vector<std::string> lines =
        SplitLines(ReadWholeFile((kProcessors / (processor + ".report")).string()));
    lines.at(ReportLineOf("CpuClock")) = "CpuClock 2596.1MHz";
    std::string report;
    for (const std::string& line : lines) {
        report += line + "\r\n";
    }
    return report;
}

std::string Dump(const std::string& processor) {
    return WithCrlf(ReadWholeFile((kProcessors / (processor + ".txt")).string()));
}

// A copy of the source tree as a fresh clone has it: every entry but build folders and git's.
fs::path FreshCopy() {
    fs::path copy = fs::path(testing::TempDir()) / ("fresh-" + std::to_string(getpid()));
    fs::remove_all(copy);
    fs::create_directories(copy);
    for (const fs::directory_entry& entry : fs::directory_iterator(kSource)) {
        const std::string name = entry.path().filename().string();
        if (name != ".git" && name != "release" && name.rfind("build", 0) != 0) {
            fs::create_symlink(entry.path(), copy / name);
        }
    }
    return copy;
}

// README's "Reporting a bug", in a fresh copy of the source tree, on a bug report as Windows
// users send one: a dump saved by Windows PowerShell 5.1 (UTF-16) beside a report saved by
// cmd.exe (CR LF), then cpuprobe-dump.txt under both names. Both succeed; a report of another
// processor makes the comparison fail. Only the build type comes from the environment, as a
// reader's could: cpuprobe-sim compiles fastest without optimisation or debug information.
TEST(Docs, ReadmeReplayRunsAsPrintedInAFreshClone) {
    const std::vector<std::string> commands =
        SectionCommands(kSource / "README.md", "## Reporting a bug");
    ASSERT_FALSE(commands.empty()) << "README.md: no code block under \"## Reporting a bug\"";
    const fs::path copy = FreshCopy();
    setenv("CMAKE_BUILD_TYPE", "None", 1);
    std::string shown;

    Write(copy / "dump.txt", AsciiAsUtf16WithMark(Dump(kProcessor), Utf16Order::kLittleEndian));
    Write(copy / "report.txt", ReportAsSaved(kProcessor));
    EXPECT_TRUE(RunAsPasted(copy, commands, shown)) << shown;

    const std::string oneFile =
        ReportAsSaved(kProcessor) +
        "\r\ncpuprobe-dump: the report above, the raw CPUID answers below.\r\n" + Dump(kProcessor);
    Write(copy / "dump.txt", oneFile);
    Write(copy / "report.txt", oneFile);
    EXPECT_TRUE(RunAsPasted(copy, commands, shown)) << "on a cpuprobe-dump.txt:\n" << shown;

    Write(copy / "dump.txt", AsciiAsUtf16WithMark(Dump(kProcessor), Utf16Order::kLittleEndian));
    Write(copy / "report.txt", ReportAsSaved(kOtherProcessor));
    EXPECT_FALSE(RunAsPasted(copy, commands, shown))
        << "a " << kOtherProcessor << " report matched a " << kProcessor << " dump:\n"
        << shown;
    fs::remove_all(copy);
}

// CONTRIBUTING's "Adding a processor": its one command, NAME replaced, run against this build's
// tests (in a view of their test files with a Testing/ of its own, so as not to disturb a run
// of the whole suite), runs exactly that processor's test, which passes.
TEST(Docs, ContributingRerunsExactlyOneProcessor) {
    std::vector<std::string> commands =
        SectionCommands(kSource / "CONTRIBUTING.md", "## Adding a processor");
    ASSERT_EQ(commands.size(), 1u)
        << "CONTRIBUTING.md: not one command under \"## Adding a processor\"";
    const std::size_t name = commands[0].find("NAME");
    ASSERT_NE(name, std::string::npos) << commands[0];
    commands[0].replace(name, 4, kProcessor);

    const fs::path view = fs::path(testing::TempDir()) / ("view-" + std::to_string(getpid()));
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(CPUPROBE_BUILD_DIR)) {
        if (entry.path().filename() == "CTestTestfile.cmake") {
            const fs::path copy = view / "build" / fs::relative(entry.path(), CPUPROBE_BUILD_DIR);
            fs::create_directories(copy.parent_path());
            fs::copy_file(entry.path(), copy, fs::copy_options::overwrite_existing);
        }
    }
    std::string shown;
    EXPECT_TRUE(RunAsPasted(view, commands, shown)) << shown;
    EXPECT_NE(shown.find("100% tests passed, 0 tests failed out of 1\n"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find(std::string("Processor.") + kProcessor + " ."), std::string::npos)
        << shown;
    fs::remove_all(view);
}

}  // namespace
