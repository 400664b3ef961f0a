# Empty dependencies file for cpuprobe_native.
# This may be replaced when dependencies are built.
