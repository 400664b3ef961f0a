file(REMOVE_RECURSE
  "CMakeFiles/cpuprobe_format.dir/one_decimal.cpp.o"
  "CMakeFiles/cpuprobe_format.dir/one_decimal.cpp.o.d"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/cpuprobe_format.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
