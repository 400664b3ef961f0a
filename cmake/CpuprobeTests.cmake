# What the test suites of every build share: GoogleTest for the build's target, how a test
# that this machine cannot run says so, and whether this machine runs 32-bit x86 programs.

# GoogleTest: the installed one in a native build; in a cross build, built for the target from
# the sources Debian's googletest package ships (no package of the target's architecture).
macro(cpuprobe_find_gtest)
  if(CMAKE_CROSSCOMPILING AND EXISTS /usr/src/googletest/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  elseif(NOT CMAKE_CROSSCOMPILING)
    find_package(GTest QUIET)
  endif()
  if(NOT TARGET GTest::gtest)
    message(FATAL_ERROR "The tests need GoogleTest. On Debian: apt-get install libgtest-dev "
                        "libgmock-dev. To build the tool alone, leave out -DBUILD_TESTING=ON.")
  endif()
  include(GoogleTest)
endmacro()

# A test that this machine cannot run: it says why, and CTest counts it as skipped.
function(cpuprobe_add_skipped_test name labels reason)
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "SKIPPED: ${reason}")
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" SKIP_REGULAR_EXPRESSION "SKIPPED: ")
endfunction()

# A script test: exit status 77 and a line "SKIPPED: why" where the machine cannot run it.
function(cpuprobe_add_script_test name labels)
  add_test(NAME ${name} COMMAND bash ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" SKIP_RETURN_CODE 77)
endfunction()

# Sets `result` to ON where this machine's kernel runs 32-bit x86 programs: a program of one
# system call, exit(42), made with the assembler and linker alone, is run once. The variable
# CPUPROBE_NO_32BIT=1 in the environment makes any machine answer OFF, to try that path.
function(cpuprobe_runs_32bit_x86 result)
  if("$ENV{CPUPROBE_NO_32BIT}" STREQUAL "1")
    set(${result} OFF PARENT_SCOPE)
    return()
  endif()
  if(NOT DEFINED CACHE{CPUPROBE_RUNS_32BIT_X86})
    set(probe ${PROJECT_BINARY_DIR}/CMakeFiles/exit42)
    file(WRITE ${probe}.s ".globl _start\n_start:\n movl $1, %eax\n movl $42, %ebx\n int $0x80\n")
    execute_process(COMMAND as --32 -o ${probe}.o ${probe}.s
                    COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ld -m elf_i386 -o ${probe} ${probe}.o COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${probe} RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    set(runs OFF)
    if(status EQUAL 42)
      set(runs ON)
    endif()
    set(CPUPROBE_RUNS_32BIT_X86 ${runs} CACHE BOOL "This machine's kernel runs 32-bit x86 programs")
  endif()
  set(${result} ${CPUPROBE_RUNS_32BIT_X86} PARENT_SCOPE)
endfunction()
