# Cross-compiles for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
#
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The executables are linked statically, so a .exe needs only the DLLs that every Windows
# system has (KERNEL32, msvcrt, WINMM) and can be copied anywhere on its own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CPUPROBE_MINGW_TRIPLET x86_64-w64-mingw32)
# The "posix" compiler flavour, for its C++ threads; the runtime is linked in either way.
set(CMAKE_C_COMPILER ${CPUPROBE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CPUPROBE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CPUPROBE_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot only; programs (cmake's helpers, the
# test scripts' tools) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${CPUPROBE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

