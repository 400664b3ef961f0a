# Empty dependencies file for cpuprobe-sim.
# This may be replaced when dependencies are built.
