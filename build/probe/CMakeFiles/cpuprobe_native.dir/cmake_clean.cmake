file(REMOVE_RECURSE
  "CMakeFiles/cpuprobe_native.dir/processor_none.cpp.o"
  "CMakeFiles/cpuprobe_native.dir/processor_none.cpp.o.d"
  "CMakeFiles/cpuprobe_native.dir/processor_x86_gcc.cpp.o"
  "CMakeFiles/cpuprobe_native.dir/processor_x86_gcc.cpp.o.d"
  "CMakeFiles/cpuprobe_native.dir/processor_x86_intrin.cpp.o"
  "CMakeFiles/cpuprobe_native.dir/processor_x86_intrin.cpp.o.d"
  "CMakeFiles/cpuprobe_native.dir/tick_posix.cpp.o"
  "CMakeFiles/cpuprobe_native.dir/tick_posix.cpp.o.d"
  "CMakeFiles/cpuprobe_native.dir/tick_windows.cpp.o"
  "CMakeFiles/cpuprobe_native.dir/tick_windows.cpp.o.d"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/cpuprobe_native.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
