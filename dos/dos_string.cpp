// The string and memory functions: those the tool's code calls, and memcpy, memmove, memset and
// memcmp, which the compiler calls for copies and comparisons of its own. The copies are the
// processor's string instructions (the compiler would make a loop written here into a call of
// the function itself); the segment is one, so DS:SI and ES:DI reach everything.
#include <errno.h>
#include <string.h>

int errno;

void* memcpy(void* to, const void* from, size_t size) {
    void* start = to;
    asm volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(size) : : "memory");
    return start;
}

// Backwards, with the direction flag set for the one instruction, where the copy would
// overwrite what it has yet to read.
void* memmove(void* to, const void* from, size_t size) {
    if (to <= from || size == 0) {
        return memcpy(to, from, size);
    }
    char* last = static_cast<char*>(to) + size - 1;
    const char* lastRead = static_cast<const char*>(from) + size - 1;
    asm volatile("std\n\trep movsb\n\tcld" : "+D"(last), "+S"(lastRead), "+c"(size) : : "memory");
    return to;
}

void* memset(void* to, int value, size_t size) {
    void* start = to;
    asm volatile("rep stosb" : "+D"(to), "+c"(size) : "a"(value) : "memory");
    return start;
}

int memcmp(const void* first, const void* second, size_t size) {
    const unsigned char* a = static_cast<const unsigned char*>(first);
    const unsigned char* b = static_cast<const unsigned char*>(second);
    for (size_t i = 0; i < size; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return 0;
}

size_t strlen(const char* text) {
    size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length;
}

// Only the errors the DOS streams and cpuprobe-dump set.
char* strerror(int error) {
    switch (error) {
        case ENOENT:
            return const_cast<char*>("Path not found");
        case EMFILE:
            return const_cast<char*>("Too many open files");
        case EACCES:
            return const_cast<char*>("Access denied");
        case ENAMETOOLONG:
            return const_cast<char*>("File name too long");
        default:
            return const_cast<char*>("Input/output error");
    }
}
