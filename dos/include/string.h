// The C library's string functions as far as the DOS programs use them (dos/dos_string.cpp),
// memcpy, memmove, memset and memcmp among them, which the compiler calls itself.
#pragma once

#include <stddef.h>

extern "C" {
void* memcpy(void* to, const void* from, size_t size);
void* memmove(void* to, const void* from, size_t size);
void* memset(void* to, int value, size_t size);
int memcmp(const void* first, const void* second, size_t size);
size_t strlen(const char* text);
char* strerror(int error);
}
