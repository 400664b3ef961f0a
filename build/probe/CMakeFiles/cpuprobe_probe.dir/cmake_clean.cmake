file(REMOVE_RECURSE
  "CMakeFiles/cpuprobe_probe.dir/cpu_clock.cpp.o"
  "CMakeFiles/cpuprobe_probe.dir/cpu_clock.cpp.o.d"
  "CMakeFiles/cpuprobe_probe.dir/cpu_info.cpp.o"
  "CMakeFiles/cpuprobe_probe.dir/cpu_info.cpp.o.d"
  "CMakeFiles/cpuprobe_probe.dir/cpu_probe.cpp.o"
  "CMakeFiles/cpuprobe_probe.dir/cpu_probe.cpp.o.d"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/cpuprobe_probe.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
