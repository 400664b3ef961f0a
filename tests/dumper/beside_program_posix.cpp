// The program's folder on Linux: /proc/self/exe names the running program, wherever it was
// started from. Where there is no such link, the current folder.
#include "probe/native_target.h"

#if !CPUPROBE_TARGET_WINDOWS

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/dumper/beside_program.h"

namespace {

constexpr std::size_t kLongestPath = 4096;

std::string ProgramFolder() {
    char path[kLongestPath];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof path) {
        const std::string program(path, static_cast<std::size_t>(length));
        return program.substr(0, program.rfind('/'));
    }
    return getcwd(path, sizeof path) != nullptr ? std::string(path) : std::string(".");
}

}  // namespace

FileBesideProgram OpenBesideProgram(const std::string& fileName) {
    FileBesideProgram opened;
    opened.shownPath = ProgramFolder() + "/" + fileName;
    opened.file = std::fopen(opened.shownPath.c_str(), "w");
    if (opened.file == nullptr) {
        opened.problem = std::strerror(errno);
    }
    return opened;
}

#endif
