// The file that a double-clicked program leaves for its user: in the folder that holds the
// program itself, whatever folder it was started from, so that it is found beside the .exe.
#pragma once

#include <cstdio>
#include <string>

struct FileBesideProgram {
    std::FILE* file = nullptr;  // open for writing as text, or null where it could not be
    std::string shownPath;      // its full path, in the form the console shows
    std::string problem;        // why it could not be opened
};

// Creates (or replaces) the file of this name beside the running program, for writing as text
// (CRLF line ends on Windows). Where the program's own folder cannot be found, the current
// folder stands in for it.
FileBesideProgram OpenBesideProgram(const std::string& fileName);
