probe/CMakeFiles/cpuprobe_native.dir/processor_x86_intrin.cpp.o: \
 /work/main/probe/processor_x86_intrin.cpp /usr/include/stdc-predef.h \
 /work/main/probe/native_target.h
