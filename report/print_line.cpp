#include "report/print_line.h"

#include <cstdarg>
#include <vector>

// NOLINTNEXTLINE(cert-dcl50-cpp): printf's own form, so that formats are checked at compile time
void PrintLine(std::FILE* stream, const char* format, ...) {
    va_list values;
    va_start(values, format);
    va_list measuring;
    va_copy(measuring, values);
    // The length first, then a buffer of exactly that size: no line can be cut short.
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length >= 0) {
        std::vector<char> line(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(line.data(), line.size(), format, values);
        std::fwrite(line.data(), 1, static_cast<std::size_t>(length), stream);
    } else {
        // The runtime could not format it in memory; let it write what it can itself.
        std::vfprintf(stream, format, values);
    }
    va_end(values);
}
