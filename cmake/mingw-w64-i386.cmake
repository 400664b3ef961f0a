# Cross-compiles the win32 download, for Windows 95 and every later Windows, on any x86 from
# the 386 on, with MinGW-w64 (Debian: g++-mingw-w64-i686-win32): `cmake --workflow --preset
# win32`, whose checks run the programs under 32-bit Wine.
#
# What Windows 95 can load and run:
# - code for the 386 alone (-march=i386), and nothing that would bring in code built for a
#   later processor: no MinGW start-up (crt2.o: report/entry_windows.cpp stands in for it), no
#   MinGW printf (__USE_MINGW_ANSI_STDIO off: the C runtime DLL formats), no exceptions, RTTI or
#   libstdc++ (the tool's code needs only the C library);
# - subsystem and OS version 4.0, which every Windows from 95 and NT 4.0 on accepts;
# - imports from Windows 95's own DLLs alone: KERNEL32, WINMM and CRTDLL, the C runtime that
#   Windows 95 and NT ship (tests/windows/check_imports.sh checks this).
# The tool and cpuprobe-dump are linked so (CPUPROBE_MINIMAL_RUNTIME, report/CMakeLists.txt);
# cpuprobe-sim.exe, which only the checks run, takes MinGW's usual runtime.
set(CMAKE_SYSTEM_PROCESSOR i386)
set(CPUPROBE_PLATFORM win32)
set(CPUPROBE_MINGW_TRIPLET i686-w64-mingw32)
set(CPUPROBE_WINDOWS_SUBSYSTEM_MAJOR 4)
set(CPUPROBE_WINDOWS_SUBSYSTEM_MINOR 0)
set(CPUPROBE_MINIMAL_RUNTIME ON)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

string(CONCAT CMAKE_CXX_FLAGS_INIT
       "-march=i386 -D__USE_MINGW_ANSI_STDIO=0 -fno-exceptions -fno-rtti "
       "-fno-threadsafe-statics -fno-asynchronous-unwind-tables -fno-stack-protector "
       "-ffunction-sections -fdata-sections")
# Small code: set outright, since CMake appends its own -O3 to a toolchain's *_INIT flags.
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "Flags of Release builds")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT
       " -Wl,--major-os-version,4,--minor-os-version,0 -Wl,--gc-sections")
