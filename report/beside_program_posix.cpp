// The program's folder on Linux: /proc/self/exe names the running program, wherever it was
// started from. Where there is no such link, the current folder.
#include "probe/native_target.h"

#if !CPUPROBE_TARGET_WINDOWS && !CPUPROBE_TARGET_DOS

#include <string.h>
#include <unistd.h>

#include "report/beside_program.h"

namespace {

// The folder, with no slash at its end; the current one where the link cannot be read, and
// "." where not even that can.
void ProgramFolder(char (&folder)[kLongestShownPath]) {
    const ssize_t length = readlink("/proc/self/exe", folder, sizeof folder - 1);
    if (length > 0) {
        folder[length] = '\0';
        char* lastSlash = strrchr(folder, '/');
        if (lastSlash != nullptr) {
            *lastSlash = '\0';
            return;
        }
    }
    if (getcwd(folder, sizeof folder) == nullptr) {
        folder[0] = '.';
        folder[1] = '\0';
    }
}

}  // namespace

void OpenBesideProgram(const char* fileName, FileBesideProgram& opened) {
    char folder[kLongestShownPath];
    ProgramFolder(folder);
    OpenInFolder(folder, '/', fileName, opened);
}

#endif
