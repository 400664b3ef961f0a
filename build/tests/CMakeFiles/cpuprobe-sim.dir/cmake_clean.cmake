file(REMOVE_RECURSE
  "../cpuprobe-sim"
  "../cpuprobe-sim.pdb"
  "CMakeFiles/cpuprobe-sim.dir/__/report/main.cpp.o"
  "CMakeFiles/cpuprobe-sim.dir/__/report/main.cpp.o.d"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/cpuprobe-sim.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
