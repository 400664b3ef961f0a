#include "tests/emulated/replay.h"

#include <cstdio>
#include <sstream>

#include "sim/simulated_processor.h"

ProcessResult ReplayDump(const std::string& simPath, const std::string& dumpText,
                         const std::string& name) {
    const std::string dumpPath = WriteTempFile(name + ".dump", dumpText);
    Command command;
    command.argv = {simPath};
    command.environment[kScenarioVariable] = dumpPath;
    ProcessResult result = RunProcess(command, "");
    std::remove(dumpPath.c_str());
    return result;
}

std::vector<std::string> ReportLines(const std::string& report) {
    std::vector<std::string> lines;
    std::istringstream stream(report);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> ReportLinesButClock(const std::string& report) {
    std::vector<std::string> lines = ReportLines(report);
    if (lines.size() > kClockLineIndex) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(kClockLineIndex));
    }
    return lines;
}
