// The C library's stdio as far as the tool and cpuprobe-dump use it, for the DOS programs
// (dos/dos_stdio.cpp): streams on DOS handles, text written with CR LF line ends.
#pragma once

#include <stdarg.h>
#include <stddef.h>

extern "C" {

using FILE = struct DosStream;

extern FILE* const stdout;

#define EOF (-1)
#define _IOFBF 0

int printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int fprintf(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
int vsnprintf(char* text, size_t size, const char* format, va_list values)
    __attribute__((format(printf, 3, 0)));
size_t fwrite(const void* data, size_t size, size_t count, FILE* stream);
int setvbuf(FILE* stream, char* buffer, int mode, size_t size);
int getchar();
FILE* fopen(const char* path, const char* mode);
int fclose(FILE* stream);
int ferror(FILE* stream);
int fileno(FILE* stream);
}
