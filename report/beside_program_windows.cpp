// The program's folder on Windows: GetModuleFileNameA names the running .exe, which is not
// where the user started it from when the prompt was in another folder. Only the ANSI
// functions are used, since Windows 95 and 98 have no working wide-character ones; and the
// file functions are switched to the console's (OEM) code page first, so that the path found
// is the one the console shows and the one the C runtime then opens, letters beyond ASCII
// included.
#include "probe/native_target.h"

#if CPUPROBE_TARGET_WINDOWS

#include <windows.h>

#include "report/beside_program.h"

namespace {

// The folder, with no backslash at its end; "." where the program's name cannot be had.
void ProgramFolder(char (&folder)[kLongestShownPath]) {
    const DWORD length = GetModuleFileNameA(nullptr, folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) {
        folder[0] = '.';
        folder[1] = '\0';
        return;
    }
    // A backslash can be the second byte of a double-byte letter, which is stepped over whole.
    char* last = nullptr;
    for (char* c = folder; *c != '\0'; ++c) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*c)) != 0 && c[1] != '\0') {
            ++c;
        } else if (*c == '\\' || *c == '/') {
            last = c;
        }
    }
    if (last != nullptr) {
        *last = '\0';
    }
}

}  // namespace

void OpenBesideProgram(const char* fileName, FileBesideProgram& opened) {
    SetFileApisToOEM();
    char folder[kLongestShownPath] = {};
    ProgramFolder(folder);
    OpenInFolder(folder, '\\', fileName, opened);
}

#endif
