probe/CMakeFiles/cpuprobe_native.dir/processor_none.cpp.o: \
 /work/main/probe/processor_none.cpp /usr/include/stdc-predef.h \
 /work/main/probe/native_target.h
