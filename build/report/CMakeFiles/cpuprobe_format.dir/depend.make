# Empty dependencies file for cpuprobe_format.
# This may be replaced when dependencies are built.
