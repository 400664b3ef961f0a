#include "report/print_line.h"

#include <stdarg.h>
#include <stdlib.h>

namespace {

// Longer than any line of the report, so that the report needs no allocation.
constexpr size_t kShortLine = 256;

}  // namespace

// NOLINTNEXTLINE(cert-dcl50-cpp): printf's own form, so that formats are checked at compile time
void PrintLine(FILE* stream, const char* format, ...) {
    // Formatted on the stack where it fits; otherwise, the values read afresh, in a buffer of
    // exactly its length, so that no line can be cut short.
    char shortLine[kShortLine];
    va_list values;
    va_start(values, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): va_start just above initialises it
    const int length = vsnprintf(shortLine, sizeof shortLine, format, values);
    va_end(values);
    const size_t size = length >= 0 ? static_cast<size_t>(length) : 0;
    if (length >= 0 && size < sizeof shortLine) {
        fwrite(shortLine, 1, size, stream);
        return;
    }
    va_start(values, format);
    if (char* longLine = length >= 0 ? static_cast<char*>(malloc(size + 1)) : nullptr) {
        vsnprintf(longLine, size + 1, format, values);
        fwrite(longLine, 1, size, stream);
        free(longLine);
    } else {
        // The runtime could not format it in memory; let it write what it can itself.
        vfprintf(stream, format, values);
    }
    va_end(values);
}
