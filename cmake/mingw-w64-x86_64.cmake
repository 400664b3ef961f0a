# Cross-compiles for 64-bit Windows, from Windows XP x64 on, with MinGW-w64 (Debian:
# g++-mingw-w64-x86-64-win32):
#
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-win64 -j2
#
# cpuprobe-sim.exe and cpuprobe-dump.exe: add --target cpuprobe cpuprobe-sim cpuprobe-dump.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CPUPROBE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CPUPROBE_WINDOWS_SUBSYSTEM_MINOR 2)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
