# 32-bit x86 Linux for any processor from the 386 on, statically linked against Debian's klibc
# (libklibc-dev:i386), whose libc.a holds no instruction past the 386's: the linux-i386
# download (`cmake --workflow --preset i386`, whose checks run it under qemu-i386's models). The
# host's g++ compiles in -m32 mode with -march=i386; nothing of the C++ library is used (no
# exceptions, no RTTI, no libstdc++), since the tool's own code needs only the C library. klibc
# is the installed one, or the one tools/fetch-klibc.sh unpacks into the build folder without
# the i386 architecture on the system (or CPUPROBE_KLIBC_ROOT, a folder it unpacked before).
# Only the tool and cpuprobe-dump build here; cpuprobe-sim needs the C++ library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i386)
set(CPUPROBE_PLATFORM i386)
set(CPUPROBE_MINIMAL_RUNTIME ON)
set(CPUPROBE_NO_CXX_LIBRARY ON)

set(CPUPROBE_KLIBC_ROOT "" CACHE PATH
    "Folder into which tools/fetch-klibc.sh unpacked klibc; empty: the installed libklibc-dev:i386")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CPUPROBE_KLIBC_ROOT)
if(NOT CPUPROBE_KLIBC_ROOT AND NOT EXISTS /usr/lib/klibc/lib/crt0.o)
  execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../tools/fetch-klibc.sh
                          ${CMAKE_BINARY_DIR}/klibc-root
                  OUTPUT_VARIABLE fetched OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(CPUPROBE_KLIBC_ROOT "${fetched}" CACHE PATH "" FORCE)
endif()
set(CPUPROBE_KLIBC "${CPUPROBE_KLIBC_ROOT}/usr/lib/klibc")
if(NOT EXISTS "${CPUPROBE_KLIBC}/lib/crt0.o")
  message(FATAL_ERROR "No klibc at ${CPUPROBE_KLIBC}: install libklibc-dev:i386, or run "
                      "tools/fetch-klibc.sh FOLDER and pass -DCPUPROBE_KLIBC_ROOT=FOLDER")
endif()

set(CMAKE_CXX_COMPILER g++)
# The flags klibc itself is built with (its klcc), for 32 bits: its functions take their first
# three arguments in registers (-mregparm=3). Its headers, then the compiler's own (stdarg.h,
# cpuid.h), and no others; klibc-cxx-prelude.h makes klibc's C headers readable as C++.
set(cpuprobe_klibc_include "${CPUPROBE_KLIBC}/include")
string(CONCAT CMAKE_CXX_FLAGS_INIT
       "-m32 -march=i386 -mregparm=3 -D_REGPARM=3 -D__KLIBC__=2 -D__KLIBC_MINOR__=0 "
       "-D_BITSIZE=32 -fno-stack-protector -fwrapv -fno-pie -fno-builtin-bcmp "
       "-fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables "
       "-ffunction-sections -fdata-sections -nostdinc -nostdinc++ -iwithprefix include "
       "-isystem ${cpuprobe_klibc_include}/arch/i386 -isystem ${cpuprobe_klibc_include}/bits32 "
       "-isystem ${cpuprobe_klibc_include} -include ${CMAKE_CURRENT_LIST_DIR}/klibc-cxx-prelude.h")
# Small code: set outright, since CMake appends its own -O3 to a toolchain's *_INIT flags.
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "Flags of Release builds")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static -nostdlib -no-pie -Wl,--gc-sections -Wl,--build-id=none")
# klibc's start-up and C library, then the compiler's helpers for what klibc lacks (klibc has
# its own 64-bit division, which Debian's libgcc, built for the i686, may do with CMOV).
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> ${CPUPROBE_KLIBC}/lib/crt0.o <OBJECTS> -o <TARGET> <LINK_LIBRARIES> ${CPUPROBE_KLIBC}/lib/libc.a -lgcc")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C++ program")

find_program(CPUPROBE_QEMU_I386 qemu-i386)
if(CPUPROBE_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CPUPROBE_QEMU_I386} -cpu 486)
endif()
