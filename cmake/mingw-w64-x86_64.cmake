# Cross-compiles for 64-bit Windows, from Windows XP x64 on, with MinGW-w64 (Debian:
# g++-mingw-w64-x86-64-win32):
#
# `cmake --workflow --preset win64`; its checks run the programs under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CPUPROBE_PLATFORM win64)
set(CPUPROBE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CPUPROBE_WINDOWS_SUBSYSTEM_MINOR 2)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
