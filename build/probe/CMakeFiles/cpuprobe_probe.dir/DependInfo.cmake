
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/probe/cpu_clock.cpp" "probe/CMakeFiles/cpuprobe_probe.dir/cpu_clock.cpp.o" "gcc" "probe/CMakeFiles/cpuprobe_probe.dir/cpu_clock.cpp.o.d"
  "/work/main/probe/cpu_info.cpp" "probe/CMakeFiles/cpuprobe_probe.dir/cpu_info.cpp.o" "gcc" "probe/CMakeFiles/cpuprobe_probe.dir/cpu_info.cpp.o.d"
  "/work/main/probe/cpu_probe.cpp" "probe/CMakeFiles/cpuprobe_probe.dir/cpu_probe.cpp.o" "gcc" "probe/CMakeFiles/cpuprobe_probe.dir/cpu_probe.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
