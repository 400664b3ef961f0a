// What the DOS programs ask of DOS (INT 21h) and of the PC itself (I/O ports, memory outside
// the program's segment). A .COM program runs in real mode in one segment, which CS, DS, ES and
// SS all name, so every pointer of the program is an offset in that segment.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint16_t kDosStandardInput = 0;
constexpr uint16_t kDosStandardOutput = 1;

// Writes all `size` bytes to a handle; false when DOS wrote fewer (a full disk) or failed.
bool DosWrite(uint16_t handle, const char* data, size_t size);

// Reads up to `size` bytes from a handle: how many it read, 0 at the end of input or on an
// error. From a console in cooked mode DOS returns once Enter is pressed.
size_t DosRead(uint16_t handle, char* into, size_t size);

// True when the handle is the console rather than a file or another device (NUL, a printer).
bool DosHandleIsConsole(uint16_t handle);

// Creates the file, or empties it where it exists, for writing: DOS's error code (2 file not
// found, 3 path not found, 4 too many open files, 5 access denied), 0 with `handle` set.
uint16_t DosCreate(const char* path, uint16_t& handle);

bool DosClose(uint16_t handle);

// The running program's full path, which DOS 3.0 and later write after the environment's
// strings; empty where there is none or it does not fit in `room` bytes and its terminator.
void DosProgramPath(char* into, size_t room);

// Writes out what the streams hold, as the program ends: called by the entry (start.S).
extern "C" void DosFlushStreams();

inline uint8_t PcInByte(uint16_t port) {
    uint8_t value = 0;
    asm volatile("inb %1, %0" : "=a"(value) : "Nd"(port));
    return value;
}

inline void PcOutByte(uint16_t port, uint8_t value) {
    asm volatile("outb %0, %1" : : "a"(value), "Nd"(port));
}

// Memory outside the program's segment, reached through FS, which nothing else uses.
inline uint8_t PcFarByte(uint16_t segment, uint16_t offset) {
    uint8_t value = 0;
    asm volatile("movw %1, %%fs\n\tmovb %%fs:(%2), %0" : "=q"(value) : "r"(segment), "b"(offset));
    return value;
}

inline uint32_t PcFarDword(uint16_t segment, uint16_t offset) {
    uint32_t value = 0;
    asm volatile("movw %1, %%fs\n\tmovl %%fs:(%2), %0" : "=r"(value) : "r"(segment), "b"(offset));
    return value;
}

// Turns interrupts off and gives the flags to put back with PcRestoreFlags, so that a caller
// that had them off already keeps them off.
inline uint32_t PcInterruptsOff() {
    uint32_t flags = 0;
    asm volatile("pushfl\n\tpopl %0\n\tcli" : "=r"(flags) : : "memory");
    return flags;
}

inline void PcRestoreFlags(uint32_t flags) {
    asm volatile("pushl %0\n\tpopfl" : : "g"(flags) : "memory", "cc");
}
