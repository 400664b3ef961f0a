# Empty dependencies file for cpuprobe.
# This may be replaced when dependencies are built.
