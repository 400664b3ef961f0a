# Empty dependencies file for cpuprobe_probe.
# This may be replaced when dependencies are built.
