// The file that a double-clicked program leaves for its user: in the folder that holds the
// program itself, whatever folder it was started from, so that it is found beside the .exe.
#pragma once

#include <stdio.h>

#include "probe/native_target.h"

// Room for the longest path of the file: Linux's PATH_MAX; on Windows the ANSI functions'
// MAX_PATH (260), and the name. Kept below a page there, so that no stack probe is needed. On
// DOS a path has at most 80 bytes, a drive, a 64-byte folder and an 8.3 name.
#if CPUPROBE_TARGET_WINDOWS
constexpr size_t kLongestShownPath = 300;
#elif CPUPROBE_TARGET_DOS
constexpr size_t kLongestShownPath = 128;
#else
constexpr size_t kLongestShownPath = 4096;
#endif

struct FileBesideProgram {
    FILE* file;                         // open for writing as text, or null where it could not be
    char shownPath[kLongestShownPath];  // its full path, in the form the console shows
    const char* problem;                // why it could not be opened, or null
};

// Sets shownPath to the folder, the separator and the file's name, and the file and the problem
// to none; false where the whole path does not fit, with shownPath then the name alone and the
// problem said. The part of OpenBesideProgram that both systems share.
bool PathBesideProgram(const char* folder, char separator, const char* fileName,
                       FileBesideProgram& opened);

// Creates (or replaces) the file of this name in the folder, for writing as text; where the
// path does not fit, or the file cannot be opened, the file stays null and the problem is said.
void OpenInFolder(const char* folder, char separator, const char* fileName,
                  FileBesideProgram& opened);

// Creates (or replaces) the file of this name beside the running program, for writing as text
// (CRLF line ends on Windows). Where the program's own folder cannot be found, the current
// folder stands in for it.
void OpenBesideProgram(const char* fileName, FileBesideProgram& opened);
