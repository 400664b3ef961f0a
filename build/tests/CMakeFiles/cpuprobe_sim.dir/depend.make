# Empty dependencies file for cpuprobe_sim.
# This may be replaced when dependencies are built.
