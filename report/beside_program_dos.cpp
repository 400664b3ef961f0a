// The program's folder on DOS: DOS 3.0 and later give the running program's full path after its
// environment, which is where the user keeps the program, whatever folder it was started from.
// DOS 2 gives none: there the current folder stands in.
#include "probe/native_target.h"

#if CPUPROBE_TARGET_DOS

#include "dos/dos_system.h"
#include "report/beside_program.h"

namespace {

// The folder, with no backslash at its end: "C:" for a program in a drive's root, to which the
// name is joined with one. "." where DOS gives no path.
void ProgramFolder(char (&folder)[kLongestShownPath]) {
    DosProgramPath(folder, sizeof folder);
    char* last = nullptr;
    for (char* c = folder; *c != '\0'; ++c) {
        if (*c == '\\' || *c == '/') {
            last = c;
        }
    }
    if (last == nullptr) {
        folder[0] = '.';
        folder[1] = '\0';
        return;
    }
    *last = '\0';
}

}  // namespace

void OpenBesideProgram(const char* fileName, FileBesideProgram& opened) {
    char folder[kLongestShownPath] = {};
    ProgramFolder(folder);
    OpenInFolder(folder, '\\', fileName, opened);
}

#endif
