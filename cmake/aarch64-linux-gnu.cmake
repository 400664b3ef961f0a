# 64-bit Arm Linux, a processor without CPUID: the tool builds there and reports the all-zero
# record. The compiler is Debian's aarch64-linux-gnu-g++ where it is installed; otherwise clang
# targets aarch64 with Debian's arm64 cross libraries (libstdc++-12-dev-arm64-cross,
# libc6-dev-arm64-cross, binutils-aarch64-linux-gnu), which, unlike the cross g++, can be
# installed beside g++-multilib. The programs run under qemu-aarch64
# (`cmake --workflow --preset aarch64`).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CPUPROBE_PLATFORM aarch64)
set(CPUPROBE_AARCH64_TRIPLE aarch64-linux-gnu)
set(CPUPROBE_AARCH64_SYSROOT /usr/${CPUPROBE_AARCH64_TRIPLE})

find_program(CPUPROBE_AARCH64_GXX ${CPUPROBE_AARCH64_TRIPLE}-g++)
if(CPUPROBE_AARCH64_GXX)
  set(CMAKE_CXX_COMPILER ${CPUPROBE_AARCH64_GXX})
else()
  set(CMAKE_CXX_COMPILER clang++)
  set(CMAKE_CXX_COMPILER_TARGET ${CPUPROBE_AARCH64_TRIPLE})
endif()

# Libraries and headers come from the cross folder only; programs from the host.
set(CMAKE_FIND_ROOT_PATH ${CPUPROBE_AARCH64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(CPUPROBE_QEMU_AARCH64 qemu-aarch64)
if(CPUPROBE_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CPUPROBE_QEMU_AARCH64} -L ${CPUPROBE_AARCH64_SYSROOT})
endif()
