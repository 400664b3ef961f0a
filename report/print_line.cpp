#include "report/print_line.h"

#include <stdarg.h>

// NOLINTNEXTLINE(cert-dcl50-cpp): printf's own form, so that formats are checked at compile time
void PrintLine(FILE* stream, const char* format, ...) {
    char line[kLongestReportLine + 1];
    va_list values;
    va_start(values, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): va_start just above initialises it
    const int length = vsnprintf(line, sizeof line, format, values);
    va_end(values);
    if (length <= 0) {
        return;
    }
    const size_t size = static_cast<size_t>(length);
    fwrite(line, 1, size < sizeof line ? size : sizeof line - 1, stream);
}
