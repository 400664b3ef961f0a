# Empty compiler generated dependencies file for cpuprobe_test_support.
# This may be replaced when dependencies are built.
