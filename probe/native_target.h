// Which native implementation of the hardware door this build compiles. Exactly one of the
// processor files and one of the tick files turns itself on.
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
