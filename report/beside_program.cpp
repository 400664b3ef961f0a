#include "report/beside_program.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace {

// Copies as much of the text as fits, always terminated.
void CopyCut(const char* text, char (&into)[kLongestShownPath]) {
    const size_t length = strlen(text);
    const size_t copied = length < sizeof into ? length : sizeof into - 1;
    memcpy(into, text, copied);
    into[copied] = '\0';
}

}  // namespace

bool PathBesideProgram(const char* folder, char separator, const char* fileName,
                       FileBesideProgram& opened) {
    opened.file = nullptr;
    opened.problem = nullptr;
    const size_t folderLength = strlen(folder);
    const size_t nameLength = strlen(fileName);
    if (folderLength + 1 + nameLength >= sizeof opened.shownPath) {
        CopyCut(fileName, opened.shownPath);
        opened.problem = strerror(ENAMETOOLONG);
        return false;
    }
    memcpy(opened.shownPath, folder, folderLength);
    opened.shownPath[folderLength] = separator;
    memcpy(opened.shownPath + folderLength + 1, fileName, nameLength + 1);
    return true;
}

void OpenInFolder(const char* folder, char separator, const char* fileName,
                  FileBesideProgram& opened) {
    if (!PathBesideProgram(folder, separator, fileName, opened)) {
        return;
    }
    opened.file = fopen(opened.shownPath, "w");
    if (opened.file == nullptr) {
        opened.problem = strerror(errno);
    }
}
