# 32-bit x86 Linux, built with the host's own compiler in -m32 mode (Debian: g++-multilib, or
# clang with the same multilib libraries). Where the kernel cannot run 32-bit programs, the
# build runs them under qemu-i386, which also stands in for other processor models:
#   cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake
#   qemu-i386 -cpu pentium2 build-i686/cpuprobe </dev/null
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")

find_program(CPUPROBE_QEMU_I386 qemu-i386)
if(CPUPROBE_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CPUPROBE_QEMU_I386})
endif()
