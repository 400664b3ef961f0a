file(REMOVE_RECURSE
  "CMakeFiles/cpuprobe_test_support.dir/support/process.cpp.o"
  "CMakeFiles/cpuprobe_test_support.dir/support/process.cpp.o.d"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/cpuprobe_test_support.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
