# The checks of a Windows build (included by CMakeLists.txt beside this file): what each .exe
# asks of Windows, read from its header, and the programs under Wine (tests/windows/wine.sh,
# the toolchain's emulator) set to report Windows XP, beside this machine's own tool. The
# win32 build, for Windows 95 and any x86 from the 386, is also checked against Windows 95's
# DLLs and the 386's instructions, and run as Windows 95, 98 and NT 4.0.
string(REGEX REPLACE "^win" "" width ${platform})
set(exes ${tool} ${dumper} $<TARGET_FILE:cpuprobe-sim>)
set(labels "windows;${platform}")

cpuprobe_add_script_test(Windows.ImportsOfWindowsXP "${labels};imports"
                         ${check_imports} xp ${width} ${exes})
cpuprobe_add_script_test(Windows.ImportCheckRefusesAProgramForVista "${labels};imports"
                         ${check_imports} refuses-vista ${width})
if(width STREQUAL "32")
  cpuprobe_add_script_test(Windows.ImportsOfWindows95 "${labels};imports;old-x86"
                           ${check_imports} win95 ${tool} ${dumper})
  cpuprobe_add_script_test(OldX86.NothingPastThe386 "${labels};audit;old-x86"
                           ${audit} ${tool} ${dumper})
endif()

# Wine of this width runs where it is installed and, for 32 bits, where the kernel runs 32-bit
# programs.
set(wine_missing "")
if(width STREQUAL "32")
  cpuprobe_runs_32bit_x86(runs_32bit)
  if(NOT runs_32bit)
    set(wine_missing "this kernel runs no 32-bit x86 programs, and 32-bit Wine is one")
  elseif(NOT EXISTS /usr/lib/wine/wine)
    set(wine_missing "no 32-bit Wine here (Debian: dpkg --add-architecture i386, then wine32:i386)")
  endif()
elseif(NOT EXISTS /usr/lib/wine/wine64)
  set(wine_missing "no 64-bit Wine here (Debian: wine64)")
endif()

function(cpuprobe_add_wine name checks labels)
  if(wine_missing)
    cpuprobe_add_skipped_test(${name} "${labels};wine" "${wine_missing}")
  else()
    cpuprobe_add_foreign(${name} ${checks} "${labels};wine" --crlf --path-prefix Z:
      --sim $<TARGET_FILE:cpuprobe-sim> --readme ${PROJECT_SOURCE_DIR}/windows/README.txt
      ${ARGN})
  endif()
endfunction()

set(wine -- ${CMAKE_CROSSCOMPILING_EMULATOR})
foreach(check EndsAtEndOfInputWithAWellFormedReport AgreesWithItsOwnDumpReplayed
              DescribesTheProcessorTheHostToolSees HoldsARedirectedReportUntilTheCharacter
              DumpReplaysAsEachShellSavesIt ReadmeCommandLinesRunAsPrinted
              DumperLeavesItsFileBesideItselfOnAConsole)
  cpuprobe_add_wine(Windows.${check} Foreign.${check} "${labels}" ${wine})
endforeach()

# cpuprobe-sim.exe gives every recorded processor its report, with CR LF, in two shards.
foreach(shard 0 1)
  cpuprobe_add_wine(Windows.Processors.Shard${shard} "Processors/Recorded.*"
                    "${labels};processors" --processors ${CPUPROBE_PROCESSORS_DIR} ${wine})
  if(NOT wine_missing)
    set_tests_properties(Windows.Processors.Shard${shard} PROPERTIES
      COST 100 ENVIRONMENT "GTEST_TOTAL_SHARDS=2;GTEST_SHARD_INDEX=${shard}")
  endif()
endforeach()

# Wine loads a program whatever subsystem version it asks for, and its wide-character
# functions work where Windows 95's are stubs: these runs show the programs' behaviour on those
# versions, while the header and import checks above are the proof that those systems load them.
if(width STREQUAL "32")
  foreach(version win95 win98 nt40)
    cpuprobe_add_wine(Windows.As.${version}
      "Foreign.EndsAtEndOfInputWithAWellFormedReport:Foreign.AgreesWithItsOwnDumpReplayed"
      "${labels};old-x86" -- bash ${PROJECT_SOURCE_DIR}/tests/windows/wine.sh 32 ${version})
  endforeach()
endif()
