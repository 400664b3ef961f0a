# Cross-compiles for 32-bit Windows, from Windows XP on, with MinGW-w64 (Debian:
# g++-mingw-w64-i686-win32):
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#   cmake --build build-win32 -j2
#
# cpuprobe-sim.exe and cpuprobe-dump.exe: add --target cpuprobe cpuprobe-sim cpuprobe-dump.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CPUPROBE_MINGW_TRIPLET i686-w64-mingw32)
set(CPUPROBE_WINDOWS_SUBSYSTEM_MINOR 1)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
