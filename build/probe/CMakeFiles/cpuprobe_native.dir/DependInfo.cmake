
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/probe/processor_none.cpp" "probe/CMakeFiles/cpuprobe_native.dir/processor_none.cpp.o" "gcc" "probe/CMakeFiles/cpuprobe_native.dir/processor_none.cpp.o.d"
  "/work/main/probe/processor_x86_gcc.cpp" "probe/CMakeFiles/cpuprobe_native.dir/processor_x86_gcc.cpp.o" "gcc" "probe/CMakeFiles/cpuprobe_native.dir/processor_x86_gcc.cpp.o.d"
  "/work/main/probe/processor_x86_intrin.cpp" "probe/CMakeFiles/cpuprobe_native.dir/processor_x86_intrin.cpp.o" "gcc" "probe/CMakeFiles/cpuprobe_native.dir/processor_x86_intrin.cpp.o.d"
  "/work/main/probe/tick_posix.cpp" "probe/CMakeFiles/cpuprobe_native.dir/tick_posix.cpp.o" "gcc" "probe/CMakeFiles/cpuprobe_native.dir/tick_posix.cpp.o.d"
  "/work/main/probe/tick_windows.cpp" "probe/CMakeFiles/cpuprobe_native.dir/tick_windows.cpp.o" "gcc" "probe/CMakeFiles/cpuprobe_native.dir/tick_windows.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
