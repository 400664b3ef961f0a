file(REMOVE_RECURSE
  "../cpuprobe"
  "../cpuprobe.pdb"
  "CMakeFiles/cpuprobe.dir/main.cpp.o"
  "CMakeFiles/cpuprobe.dir/main.cpp.o.d"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/cpuprobe.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
