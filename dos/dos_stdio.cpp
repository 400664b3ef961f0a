// Streams on DOS handles: stdout (handle 1) and the one file cpuprobe-dump writes, each line
// ended in CR LF as DOS and its editors expect. stdout starts out writing at the end of every
// call, so that on a console each line of the report shows as it is written; the tool gives it
// a buffer for the whole report where it is not a console (setvbuf), written as it ends.
// Formatting knows what the tool's and the dumper's texts use: %s, %d and %x, a width, and
// padding with zeros.
#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include "dos/dos_system.h"

struct DosStream {
    uint16_t handle;
    char* buffer;
    size_t capacity;
    size_t used;
    bool writeAtEveryCall;
    bool failed;
    bool open;
};

namespace {

// A report line and its CR; a longer text goes out in pieces.
constexpr size_t kLineBufferSize = 128;
// One disk sector.
constexpr size_t kFileBufferSize = 512;

// DOS's error codes from creating a file.
constexpr uint16_t kDosFileNotFound = 2;
constexpr uint16_t kDosPathNotFound = 3;
constexpr uint16_t kDosTooManyOpenFiles = 4;
constexpr uint16_t kDosAccessDenied = 5;

constexpr int kDecimal = 10;
constexpr int kHexadecimal = 16;
constexpr size_t kMostDigits = 10;  // of a 32-bit number in decimal

char lineBuffer[kLineBufferSize];
char fileBuffer[kFileBufferSize];
DosStream standardOutput = {
    kDosStandardOutput, lineBuffer, sizeof lineBuffer, 0, true, false, true};
DosStream theFile = {0, fileBuffer, sizeof fileBuffer, 0, false, false, false};

void Flush(DosStream& stream) {
    if (stream.used != 0 && !DosWrite(stream.handle, stream.buffer, stream.used)) {
        stream.failed = true;
    }
    stream.used = 0;
}

void PutByte(DosStream& stream, char byte) {
    if (stream.used == stream.capacity) {
        Flush(stream);
    }
    stream.buffer[stream.used++] = byte;
}

void PutCharacter(DosStream& stream, char character) {
    if (character == '\n') {
        PutByte(stream, '\r');
    }
    PutByte(stream, character);
}

void EndCall(DosStream& stream) {
    if (stream.writeAtEveryCall) {
        Flush(stream);
    }
}

// Where formatted text goes: a stream, or a text of `room` characters (the terminator apart),
// which counts every character given to it, as vsnprintf returns.
struct Sink {
    DosStream* stream;
    char* text;
    size_t room;
    size_t length;
};

void Put(Sink& sink, char character) {
    if (sink.stream != nullptr) {
        PutCharacter(*sink.stream, character);
    } else if (sink.length < sink.room) {
        sink.text[sink.length] = character;
    }
    ++sink.length;
}

void PutNumber(Sink& sink, uint32_t magnitude, bool negative, uint32_t base, size_t width,
               char pad) {
    char digits[kMostDigits];
    size_t count = 0;
    do {
        digits[count++] = "0123456789abcdef"[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    size_t length = count + (negative ? 1 : 0);
    if (negative && pad == '0') {
        Put(sink, '-');
    }
    for (; length < width; ++length) {
        Put(sink, pad);
    }
    if (negative && pad != '0') {
        Put(sink, '-');
    }
    while (count > 0) {
        Put(sink, digits[--count]);
    }
}

// One conversion, `conversion` its letter; unknown ones are written as they stand.
void PutConversion(Sink& sink, char conversion, size_t width, char pad, va_list& values) {
    switch (conversion) {
        case 'd': {
            const int value = va_arg(values, int);
            const uint32_t magnitude = static_cast<uint32_t>(value);
            PutNumber(sink, value < 0 ? 0 - magnitude : magnitude, value < 0, kDecimal, width, pad);
            break;
        }
        case 'x':
            PutNumber(sink, va_arg(values, unsigned int), false, kHexadecimal, width, pad);
            break;
        case 's':
            for (const char* text = va_arg(values, const char*); *text != '\0'; ++text) {
                Put(sink, *text);
            }
            break;
        default:
            Put(sink, '%');
            Put(sink, conversion);
    }
}

void Format(Sink& sink, const char* format, va_list values) {
    for (; *format != '\0'; ++format) {
        if (*format != '%') {
            Put(sink, *format);
            continue;
        }
        ++format;
        const char pad = *format == '0' ? '0' : ' ';
        size_t width = 0;
        for (; *format >= '0' && *format <= '9'; ++format) {
            width = width * kDecimal + static_cast<size_t>(*format - '0');
        }
        if (*format == '\0') {
            return;
        }
        PutConversion(sink, *format, width, pad, values);
    }
}

int FormatTo(DosStream& stream, const char* format, va_list values) {
    Sink sink = {&stream, nullptr, 0, 0};
    Format(sink, format, values);
    EndCall(stream);
    return static_cast<int>(sink.length);
}

int ErrnoOfDosError(uint16_t error) {
    switch (error) {
        case kDosFileNotFound:
        case kDosPathNotFound:
            return ENOENT;
        case kDosTooManyOpenFiles:
            return EMFILE;
        case kDosAccessDenied:
            return EACCES;
        default:
            return EIO;
    }
}

// The stream a FILE names: this file is the one place that knows what is inside one.
DosStream& StreamOf(FILE* file) { return *static_cast<DosStream*>(file); }

}  // namespace

FILE* const stdout = &standardOutput;

int vsnprintf(char* text, size_t size, const char* format, va_list values) {
    Sink sink = {nullptr, text, size == 0 ? 0 : size - 1, 0};
    Format(sink, format, values);
    if (size != 0) {
        text[sink.length < sink.room ? sink.length : sink.room] = '\0';
    }
    return static_cast<int>(sink.length);
}

int printf(const char* format, ...) {
    va_list values;
    va_start(values, format);
    const int length = FormatTo(standardOutput, format, values);
    va_end(values);
    return length;
}

int fprintf(FILE* stream, const char* format, ...) {
    va_list values;
    va_start(values, format);
    const int length = FormatTo(StreamOf(stream), format, values);
    va_end(values);
    return length;
}

size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
    const char* bytes = static_cast<const char*>(data);
    for (size_t i = 0; i < size * count; ++i) {
        PutCharacter(StreamOf(stream), bytes[i]);
    }
    EndCall(StreamOf(stream));
    return StreamOf(stream).failed ? 0 : count;
}

// Only full buffering is asked for: the report held whole until the program ends.
int setvbuf(FILE* stream, char* buffer, int mode, size_t size) {
    if (mode != _IOFBF || buffer == nullptr || size == 0) {
        return EOF;
    }
    DosStream& chosen = StreamOf(stream);
    Flush(chosen);
    chosen.buffer = buffer;
    chosen.capacity = size;
    chosen.writeAtEveryCall = false;
    return 0;
}

int getchar() {
    char character = 0;
    if (DosRead(kDosStandardInput, &character, 1) != 1) {
        return EOF;
    }
    return static_cast<unsigned char>(character);
}

// Files are only ever written, and one at a time.
FILE* fopen(const char* path, const char* /*mode*/) {
    if (theFile.open) {
        errno = EMFILE;
        return nullptr;
    }
    const uint16_t error = DosCreate(path, theFile.handle);
    if (error != 0) {
        errno = ErrnoOfDosError(error);
        return nullptr;
    }
    theFile.used = 0;
    theFile.failed = false;
    theFile.open = true;
    return &theFile;
}

int fclose(FILE* stream) {
    DosStream& closing = StreamOf(stream);
    Flush(closing);
    const bool closed = DosClose(closing.handle);
    closing.open = false;
    return closed && !closing.failed ? 0 : EOF;
}

int ferror(FILE* stream) { return StreamOf(stream).failed ? 1 : 0; }

int fileno(FILE* stream) { return StreamOf(stream).handle; }

int isatty(int handle) { return DosHandleIsConsole(static_cast<uint16_t>(handle)) ? 1 : 0; }

void DosFlushStreams() {
    Flush(standardOutput);
    if (theFile.open) {
        Flush(theFile);
    }
}
