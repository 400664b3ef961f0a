# What the MinGW-w64 toolchain files share; each sets these first and then includes this:
#   CPUPROBE_MINGW_TRIPLET             the compiler prefix, i686-w64-mingw32 or x86_64-w64-mingw32
#   CPUPROBE_PLATFORM                  win32 or win64, for the checks (tests/platforms)
#   CPUPROBE_WINDOWS_SUBSYSTEM_MINOR   the minor half of the subsystem version the .exe asks
#                                      for: 5.1 is Windows XP, 5.2 Windows XP x64 and Server 2003
#   CPUPROBE_WINDOWS_SUBSYSTEM_MAJOR   its major half, 5 where it is not set; 4.0 is Windows 95
#                                      and NT 4.0
set(CMAKE_SYSTEM_NAME Windows)

# The "win32" compiler flavour: its C++ runtime uses Windows threads directly. The "posix"
# flavour links winpthreads, which imports GetTickCount64, and Windows XP has no such function.
set(CMAKE_C_COMPILER ${CPUPROBE_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${CPUPROBE_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${CPUPROBE_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot only; programs (cmake's helpers, the
# test scripts' tools) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${CPUPROBE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CMake would name kernel32 and other system libraries ahead of the compiler's own list, where
# msvcrt comes before kernel32. The 64-bit startup code's __C_specific_handler would then be
# imported from KERNEL32, which documents no such function for Windows XP x64, rather than from
# msvcrt.dll, which has exported it since its first 64-bit release. The compiler's list alone
# has every library the programs need.
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C++ program")

# Linked statically, so a .exe needs only the DLLs that every Windows system has (KERNEL32,
# msvcrt, WINMM) and can be copied anywhere on its own. The loader refuses a program whose
# subsystem version is above its own Windows version; the linker's default differs between
# binutils releases, so it is stated here.
if(NOT DEFINED CPUPROBE_WINDOWS_SUBSYSTEM_MAJOR)
  set(CPUPROBE_WINDOWS_SUBSYSTEM_MAJOR 5)
endif()
string(CONCAT CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ "
       "-Wl,--major-subsystem-version,${CPUPROBE_WINDOWS_SUBSYSTEM_MAJOR}"
       ",--minor-subsystem-version,${CPUPROBE_WINDOWS_SUBSYSTEM_MINOR}")

# The checks run the programs under Wine, set to report Windows XP.
get_filename_component(cpuprobe_wine ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine.sh ABSOLUTE)
if(CPUPROBE_MINGW_TRIPLET MATCHES "^x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR bash ${cpuprobe_wine} 64 winxp64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR bash ${cpuprobe_wine} 32 winxp)
endif()
