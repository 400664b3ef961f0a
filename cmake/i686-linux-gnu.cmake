# 32-bit x86 Linux, built with the host's own compiler in -m32 mode (Debian: g++-multilib): a
# test build, for Debian's 32-bit C library (the Pentium II on). Its programs and tests run
# under qemu-i386 whatever the kernel, which also stands in for other processor models
# (`cmake --workflow --preset i686`).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CPUPROBE_PLATFORM i686)
# GoogleTest built for 32 bits from Debian's sources: the unit tests run here too.
set(CPUPROBE_CROSS_UNIT_TESTS ON)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")

find_program(CPUPROBE_QEMU_I386 qemu-i386)
if(CPUPROBE_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CPUPROBE_QEMU_I386})
endif()
