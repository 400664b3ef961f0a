// DOS's own functions, each one INT 21h call with its number in AH; the carry flag set on return
// means it failed, with DOS's error code in AX. Everything here is in DOS 2.0 but the program's
// path, which DOS 3.0 added; DOS 2 leaves after the environment whatever memory holds.
#include "dos/dos_system.h"

namespace {

constexpr uint16_t kCreateFile = 0x3C00;
constexpr uint16_t kCloseFile = 0x3E00;
constexpr uint16_t kReadFromHandle = 0x3F00;
constexpr uint16_t kWriteToHandle = 0x4000;
constexpr uint16_t kDeviceInformation = 0x4400;
constexpr uint16_t kDosVersion = 0x3000;  // AL: the major version; BX and CX: the maker's
constexpr uint8_t kFirstDosWithProgramPath = 3;
constexpr uint16_t kLowByte = 0xFF;

// The device information word: bit 7 set for a device rather than a file, and then bits 0
// and 1 for the console's input and output.
constexpr uint16_t kInformationDevice = 0x80;
constexpr uint16_t kInformationConsole = 0x03;

// The program segment prefix, at the start of the program's segment: the word at 2Ch is the
// segment of the program's environment.
constexpr uint16_t kEnvironmentSegmentOffset = 0x2C;
// DOS keeps an environment below 32 KB.
constexpr uint16_t kMostEnvironmentBytes = 0x8000;

uint16_t Offset(const char* pointer) {
    return static_cast<uint16_t>(reinterpret_cast<uintptr_t>(pointer));
}

uint16_t Count(size_t size) { return static_cast<uint16_t>(size); }

// Reads or writes through a handle (FUNCTION is one of the two): the bytes DOS moved, or -1
// where it failed.
int32_t HandleTransfer(uint16_t function, uint16_t handle, const char* buffer, size_t size) {
    uint16_t result = function;
    bool failed = false;
    asm volatile("int $0x21"
                 : "=@ccc"(failed), "+a"(result)
                 : "b"(handle), "c"(Count(size)), "d"(Offset(buffer))
                 : "memory");
    return failed ? -1 : result;
}

uint16_t ProgramSegmentWord(uint16_t offset) {
    uint16_t value = 0;
    asm volatile("movw (%1), %0" : "=r"(value) : "b"(offset));
    return value;
}

uint8_t DosMajorVersion() {
    uint16_t result = kDosVersion;
    asm volatile("int $0x21" : "+a"(result) : : "bx", "cx");
    return static_cast<uint8_t>(result & kLowByte);
}

// Where the environment's strings end: past the empty one that closes them.
uint16_t EndOfEnvironmentStrings(uint16_t environment) {
    uint16_t at = 0;
    while (at < kMostEnvironmentBytes && PcFarByte(environment, at) != 0) {
        while (at < kMostEnvironmentBytes && PcFarByte(environment, at) != 0) {
            ++at;
        }
        ++at;
    }
    return static_cast<uint16_t>(at + 1);
}

}  // namespace

bool DosWrite(uint16_t handle, const char* data, size_t size) {
    return HandleTransfer(kWriteToHandle, handle, data, size) == static_cast<int32_t>(size);
}

size_t DosRead(uint16_t handle, char* into, size_t size) {
    const int32_t moved = HandleTransfer(kReadFromHandle, handle, into, size);
    return moved < 0 ? 0 : static_cast<size_t>(moved);
}

bool DosHandleIsConsole(uint16_t handle) {
    uint16_t result = kDeviceInformation;
    uint16_t information = 0;
    bool failed = false;
    asm volatile("int $0x21" : "=@ccc"(failed), "+a"(result), "=d"(information) : "b"(handle));
    return !failed && (information & kInformationDevice) != 0 &&
           (information & kInformationConsole) != 0;
}

uint16_t DosCreate(const char* path, uint16_t& handle) {
    uint16_t result = kCreateFile;
    bool failed = false;
    asm volatile("int $0x21"
                 : "=@ccc"(failed), "+a"(result)
                 : "c"(uint16_t{0}), "d"(Offset(path))
                 : "memory");
    if (failed) {
        return result;
    }
    handle = result;
    return 0;
}

bool DosClose(uint16_t handle) {
    uint16_t result = kCloseFile;
    bool failed = false;
    asm volatile("int $0x21" : "=@ccc"(failed), "+a"(result) : "b"(handle) : "memory");
    return !failed;
}

// After the environment's strings come a word, the number of strings that follow (1 from DOS
// 3.0 on), and the program's path.
void DosProgramPath(char* into, size_t room) {
    into[0] = '\0';
    const uint16_t environment = ProgramSegmentWord(kEnvironmentSegmentOffset);
    if (environment == 0 || room == 0 || DosMajorVersion() < kFirstDosWithProgramPath) {
        return;
    }
    uint16_t at = EndOfEnvironmentStrings(environment);
    const uint16_t stringsAfter = static_cast<uint16_t>(
        PcFarByte(environment, at) | PcFarByte(environment, static_cast<uint16_t>(at + 1)) << 8);
    if (stringsAfter == 0) {
        return;
    }
    at = static_cast<uint16_t>(at + 2);
    for (size_t length = 0; length < room; ++length, ++at) {
        into[length] = static_cast<char>(PcFarByte(environment, at));
        if (into[length] == '\0') {
            return;
        }
    }
    into[0] = '\0';
}
