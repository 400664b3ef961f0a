# Instrumented builds, applied to every target through the global flags so that anything built
# from source alongside the tool (GoogleTest too, when it is) carries the same instrumentation.
#
#   CPUPROBE_SANITIZE  AddressSanitizer and UndefinedBehaviorSanitizer; the first report ends
#                      the process, so a test that trips one fails.
#   CPUPROBE_FUZZ      The same, plus libFuzzer's coverage hooks (Clang only); the fuzz targets
#                      under fuzz/ then link libFuzzer itself.
option(CPUPROBE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(CPUPROBE_FUZZ "Build the libFuzzer targets (Clang), instrumented as CPUPROBE_SANITIZE" OFF)

if(CPUPROBE_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "CPUPROBE_FUZZ needs Clang (libFuzzer); configure with "
                      "-DCMAKE_CXX_COMPILER=clang++ or the fuzz preset")
endif()

if(CPUPROBE_SANITIZE OR CPUPROBE_FUZZ)
  if(MSVC)
    # Microsoft's compiler has AddressSanitizer only.
    string(APPEND CMAKE_CXX_FLAGS " /fsanitize=address")
  else()
    set(cpuprobe_sanitizers "address,undefined")
    if(CPUPROBE_FUZZ)
      set(cpuprobe_sanitizers "fuzzer-no-link,${cpuprobe_sanitizers}")
    endif()
    # Stop at the first report of either sanitizer, and keep frames for readable stacks.
    set(cpuprobe_sanitize_flags
        "-fsanitize=${cpuprobe_sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer")
    string(APPEND CMAKE_CXX_FLAGS " ${cpuprobe_sanitize_flags}")
    string(APPEND CMAKE_EXE_LINKER_FLAGS " ${cpuprobe_sanitize_flags}")
    string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${cpuprobe_sanitize_flags}")
    # GCC's flow analysis misreads the instrumented code and warns of uninitialised values in
    # the standard library (std::regex, std::function); the plain build still checks this.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      string(APPEND CMAKE_CXX_FLAGS " -Wno-maybe-uninitialized")
    endif()
    unset(cpuprobe_sanitizers)
    unset(cpuprobe_sanitize_flags)
  endif()
endif()
