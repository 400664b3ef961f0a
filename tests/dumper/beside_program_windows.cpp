// The program's folder on Windows: GetModuleFileNameW names the running .exe, which is not
// where the user started it from when the prompt was in another folder. The path is kept in
// UTF-16 throughout, so that a folder whose name the ANSI code page cannot spell still opens,
// and converted only to be shown, in the console's own code page.
#include "probe/native_target.h"

#if CPUPROBE_TARGET_WINDOWS

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tests/dumper/beside_program.h"

namespace {

// The longest path Windows has, in UTF-16 code units.
constexpr DWORD kLongestPath = 32768;

std::wstring ProgramFolder() {
    std::vector<wchar_t> path(kLongestPath);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), kLongestPath);
    if (length == 0 || length >= kLongestPath) {
        return L".";
    }
    const std::wstring program(path.data(), length);
    return program.substr(0, program.find_last_of(L"\\/"));
}

// A name of ASCII characters, as UTF-16.
std::wstring Widened(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string ForConsole(const std::wstring& text) {
    const UINT codePage = GetConsoleOutputCP();
    const int wide = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(codePage, 0, text.c_str(), wide, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return std::string();
    }
    std::string shown(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.c_str(), wide, &shown[0], size, nullptr, nullptr);
    return shown;
}

}  // namespace

FileBesideProgram OpenBesideProgram(const std::string& fileName) {
    const std::wstring path = ProgramFolder() + L"\\" + Widened(fileName);
    FileBesideProgram opened;
    opened.shownPath = ForConsole(path);
    opened.file = _wfopen(path.c_str(), L"w");
    if (opened.file == nullptr) {
        opened.problem = std::strerror(errno);
    }
    return opened;
}

#endif
