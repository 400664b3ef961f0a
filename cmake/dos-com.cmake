# DOS on any x86 from the 8086: CPUPROBE.COM and CPUDUMP.COM, flat .COM programs of 16-bit
# real-mode code with 32-bit instructions (gcc -m16 -march=i386), built from the tool's own
# sources with their entry and the least of a C library from dos/ (`cmake --workflow --preset
# dos`, whose checks run the programs under DOSBox, the emulator set here). The entry prints the
# report of a processor without CPUID itself on an 8086 or 286; its text comes from a
# cpuprobe-sim built for this machine (cmake/HostTools.cmake).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR i386)
set(CPUPROBE_PLATFORM dos)
set(CPUPROBE_DOS ON)
set(CPUPROBE_MINIMAL_RUNTIME ON)
set(CPUPROBE_NO_CXX_LIBRARY ON)

set(CMAKE_CXX_COMPILER g++)
set(CMAKE_ASM_COMPILER gcc)
# The compiler checks compile without linking: a program links only behind the DOS entry.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# No host headers but the compiler's own (stdarg.h, stdint.h, cpuid.h): dos/include has the
# C library's. The host's __linux__ and unix are taken away, __MSDOS__ given instead.
string(CONCAT CMAKE_CXX_FLAGS_INIT
       "-m16 -march=i386 -ffreestanding -fno-pie -fno-exceptions -fno-rtti "
       "-fno-threadsafe-statics -fno-asynchronous-unwind-tables -fno-stack-protector "
       "-ffunction-sections -fdata-sections -nostdinc -nostdinc++ -iwithprefix include "
       "-isystem ${CMAKE_CURRENT_LIST_DIR}/../dos/include "
       "-U__linux__ -U__linux -Ulinux -U__gnu_linux__ -U__unix__ -U__unix -Uunix -D__MSDOS__")
set(CMAKE_ASM_FLAGS_INIT "-m16 -march=i386")
# Small code whatever the build type, so that the programs the checks run are the ones a release
# ships: set outright, since CMake appends its own -O2 or -O3 to a toolchain's *_INIT flags.
# Debug information stays in the linked ELF and never reaches a .COM.
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "Flags of Release builds")
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-Os -g -DNDEBUG" CACHE STRING "Flags of RelWithDebInfo builds")
set(CMAKE_CXX_FLAGS_MINSIZEREL "-Os -DNDEBUG" CACHE STRING "Flags of MinSizeRel builds")
# Every program is linked as ELF at 0x100 (dos/com.ld), where the linker drops unused functions,
# and then made the flat .COM image in place. Its one segment is read, written and run, as all
# memory is in real mode.
string(CONCAT CMAKE_EXE_LINKER_FLAGS_INIT "-m16 -static -nostdlib -no-pie -Wl,--gc-sections "
       "-Wl,--build-id=none -Wl,--no-warn-rwx-segments")
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>"
    "objcopy -O binary <TARGET> <TARGET>")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C++ program")

set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_CURRENT_LIST_DIR}/../tests/dos/dosbox_run.sh)
