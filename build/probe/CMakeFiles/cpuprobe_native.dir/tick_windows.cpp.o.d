probe/CMakeFiles/cpuprobe_native.dir/tick_windows.cpp.o: \
 /work/main/probe/tick_windows.cpp /usr/include/stdc-predef.h \
 /work/main/probe/native_target.h
