// What this build is compiled for: every test of the platform in the tool's own code is one of
// these, each 1 or 0. Exactly one of the processor files and one of the tick files turns
// itself on.
#pragma once

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define CPUPROBE_TARGET_X86 1
#else
#define CPUPROBE_TARGET_X86 0
#endif

// Microsoft's compiler and MinGW both reach the processor through <intrin.h>.
#if defined(_MSC_VER) || defined(__MINGW32__)
#define CPUPROBE_TARGET_INTRIN_H 1
#else
#define CPUPROBE_TARGET_INTRIN_H 0
#endif

#if defined(_WIN32)
#define CPUPROBE_TARGET_WINDOWS 1
#else
#define CPUPROBE_TARGET_WINDOWS 0
#endif

// DOS, from the 8086 on: the .COM programs of cmake/dos-com.cmake, 16-bit real-mode code with
// 32-bit instructions (gcc -m16), their own entry and C library (dos/). The toolchain defines
// __MSDOS__ and takes away the host's __linux__.
#if defined(__MSDOS__)
#define CPUPROBE_TARGET_DOS 1
#if !defined(__i386__)
#error "DOS builds are gcc -m16 builds: 32-bit instructions in 16-bit real-mode code"
#endif
#else
#define CPUPROBE_TARGET_DOS 0
#endif

// Linux lets a process forbid itself the time-stamp counter (prctl PR_SET_TSC).
#if defined(__linux__)
#define CPUPROBE_TARGET_LINUX 1
#else
#define CPUPROBE_TARGET_LINUX 0
#endif

// Linux's klibc, for the 32-bit build that runs from the 386 on: no clock_gettime (the tick
// makes the system call itself, with int 0x80) and no setvbuf.
#if defined(__KLIBC__)
#define CPUPROBE_TARGET_KLIBC 1
#if !defined(__i386__)
#error "klibc builds are for 32-bit x86 only: the tick reaches the kernel with int 0x80"
#endif
#else
#define CPUPROBE_TARGET_KLIBC 0
#endif
