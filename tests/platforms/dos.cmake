# The checks of the DOS build (included by CMakeLists.txt beside this file): the programs under
# DOSBox (tests/dos/dosbox_run.sh, the toolchain's emulator) on a processor without CPUID, one
# without a time-stamp counter and one with, each at two speeds: 4.77 MHz (an IBM PC's clock,
# whose report shows 4.8) and 33 MHz, where the clock must read DOSBox's rate; their
# instruction audit and sizes.
set(check_dos ${PROJECT_SOURCE_DIR}/tests/dos/check_dos.sh)
set(dos_folder $<TARGET_FILE_DIR:cpuprobe>)
set(host_sim ${host_dir}/cpuprobe-sim)

# The checks' own DOS helpers: masking the timer's interrupt, saving the screen's text.
add_executable(dos_mask_timer ${PROJECT_SOURCE_DIR}/tests/dos/mask_timer.cpp)
cpuprobe_dos_program(dos_mask_timer MASKTIMR)
add_executable(dos_save_screen ${PROJECT_SOURCE_DIR}/tests/dos/save_screen.cpp)
cpuprobe_dos_program(dos_save_screen SAVESCRN)
cpuprobe_warnings(dos_mask_timer)
cpuprobe_warnings(dos_save_screen)

find_program(CPUPROBE_DOSBOX dosbox)
# A check that runs DOSBox: of foreign_test.cpp (CHECKS and its options after FOREIGN), or of
# check_dos.sh (its arguments).
function(cpuprobe_add_dosbox_test name)
  if(NOT CPUPROBE_DOSBOX)
    cpuprobe_add_skipped_test(${name} "dos;dosbox" "no dosbox here (Debian: dosbox)")
  elseif(ARGV1 STREQUAL "FOREIGN")
    list(REMOVE_AT ARGN 0 1)
    cpuprobe_add_foreign(${name} ${ARGV2} "dos;dosbox" ${ARGN})
  else()
    cpuprobe_add_script_test(${name} "dos;dosbox" ${check_dos} ${ARGN})
  endif()
endfunction()

set(processor_386 --recorded ${PROJECT_SOURCE_DIR}/tests/scenarios/no-cpuid.report)
set(processor_486_slow --show "CPUID 1" --show "TSC 0"
                       --show "TypeID 0, FamilyID 4, ModelID 0, SteppingID 2")
set(processor_pentium_slow --show "TSC 1" --show "TypeID 0, FamilyID 5, ModelID 1, SteppingID 3")
foreach(cputype 386 486_slow pentium_slow)
  foreach(cycles 4770 33000)
    # N counts a millisecond are N/1000 MHz, to one decimal, halves away from zero.
    set(clock 0.0)
    if(cputype STREQUAL "pentium_slow")
      math(EXPR tenths "(${cycles} + 50) / 100")
      math(EXPR whole "${tenths} / 10")
      math(EXPR tenth "${tenths} % 10")
      set(clock ${whole}.${tenth})
    endif()
    set(setting --cputype ${cputype} --cycles ${cycles} --time-limit 30)
    cpuprobe_add_dosbox_test(Dos.${cputype}.${cycles} FOREIGN
      "Foreign.EndsAtEndOfInputWithAWellFormedReport:Foreign.AgreesWithItsOwnDumpReplayed"
      --crlf --clock "CpuClock ${clock}MHz" ${processor_${cputype}}
      -- ${CMAKE_CROSSCOMPILING_EMULATOR} ${setting})
    cpuprobe_add_dosbox_test(Dos.${cputype}.${cycles}.DumperOnTheConsole
      console ${dos_folder} ${host_sim} ${setting})
  endforeach()
endforeach()
cpuprobe_add_dosbox_test(Dos.NoCpuidPathOfTheEntry no-cpuid-path ${dos_folder} ${host_sim})

# Run by the emulator, as any cross-built test: the end of input ends the wait, and a timer
# whose interrupt is masked gives the clock up at once rather than hang.
if(CPUPROBE_DOSBOX)
  add_test(NAME Dos.EndOfInputEndsTheWait COMMAND cpuprobe --cputype 486_slow --time-limit 30)
  set_tests_properties(Dos.EndOfInputEndsTheWait PROPERTIES
    PASS_REGULAR_EXPRESSION "FamilyID 4.*FCMOV      [01]")
  add_test(NAME Dos.MaskedTimerGivesTheClockUp
           COMMAND cpuprobe --before $<TARGET_FILE:dos_mask_timer> --time-limit 30)
  set_tests_properties(Dos.MaskedTimerGivesTheClockUp PROPERTIES
    PASS_REGULAR_EXPRESSION "CpuClock 0\\.0MHz.*TSC    1")
  set_tests_properties(Dos.EndOfInputEndsTheWait Dos.MaskedTimerGivesTheClockUp PROPERTIES
    LABELS "dos;dosbox" TIMEOUT 60)
endif()

cpuprobe_add_script_test(Dos.NothingPastThe386NorThe8086BeforeItsTest "dos;audit;old-x86"
                         ${audit} ${dos_folder}/CPUPROBE.COM ${dos_folder}/CPUDUMP.COM)
cpuprobe_add_script_test(Dos.EachProgramFitsItsSegment "dos" ${check_dos} sizes ${dos_folder})
