
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/tests/sim/scenario.cpp" "tests/CMakeFiles/cpuprobe_sim.dir/sim/scenario.cpp.o" "gcc" "tests/CMakeFiles/cpuprobe_sim.dir/sim/scenario.cpp.o.d"
  "/work/main/tests/sim/simulated_processor.cpp" "tests/CMakeFiles/cpuprobe_sim.dir/sim/simulated_processor.cpp.o" "gcc" "tests/CMakeFiles/cpuprobe_sim.dir/sim/simulated_processor.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
