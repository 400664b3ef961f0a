#pragma once

#include <stdio.h>

// Writes one line of the report: formatted whole, at whatever length it comes to, then handed
// to the stream in one piece. MinGW's printf passes its output to the C runtime one character
// at a time, and Wine's runtime writes a buffered file out at every newline that arrives that
// way; a whole line stays in the buffer there as it does everywhere else. It takes its values
// as printf does, so that the compiler checks each line's format against them.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void PrintLine(FILE* stream, const char* format, ...);
