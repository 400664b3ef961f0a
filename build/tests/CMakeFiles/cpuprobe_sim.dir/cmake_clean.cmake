file(REMOVE_RECURSE
  "CMakeFiles/cpuprobe_sim.dir/sim/scenario.cpp.o"
  "CMakeFiles/cpuprobe_sim.dir/sim/scenario.cpp.o.d"
  "CMakeFiles/cpuprobe_sim.dir/sim/simulated_processor.cpp.o"
  "CMakeFiles/cpuprobe_sim.dir/sim/simulated_processor.cpp.o.d"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/cpuprobe_sim.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
