#pragma once

#include <stddef.h>
#include <stdio.h>

// The longest line the report can have: the signature line, its four 32-bit numbers at their
// widest ("-2147483648"). Every other line is shorter, the 48-byte name's and the clock's too.
constexpr size_t kWidestInt32Text = sizeof "-2147483648" - 1;
constexpr size_t kLongestReportLine =
    sizeof "TypeID , FamilyID , ModelID , SteppingID \n" - 1 + 4 * kWidestInt32Text;

// Writes one line of the report: formatted whole on the stack, then handed to the stream in
// one piece. MinGW's printf passes its output to the C runtime one character at a time, and
// Wine's runtime writes a buffered file out at every newline that arrives that way; a whole
// line stays in the buffer there as it does everywhere else. A line longer than
// kLongestReportLine is cut there. It takes its values as printf does, so that the compiler
// checks each line's format against them.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void PrintLine(FILE* stream, const char* format, ...);
