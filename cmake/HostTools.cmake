# The tools of this machine that a cross build's checks run beside its own programs: cpuprobe
# and cpuprobe-sim, the yardsticks, and cpuprobe_foreign_test (tests/platforms), built from the
# same sources by this machine's compiler into one folder that every cross build shares.
include(ExternalProject)
set(CPUPROBE_HOST_DIR ${PROJECT_SOURCE_DIR}/build-host CACHE PATH
    "Where the cross builds' checks build this machine's own tools")
ExternalProject_Add(cpuprobe_host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CPUPROBE_HOST_DIR}
  CMAKE_ARGS -DBUILD_TESTING=ON -DCPUPROBE_WERROR=${CPUPROBE_WERROR} -DCMAKE_BUILD_TYPE=Release
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${CPUPROBE_HOST_DIR}
                --target cpuprobe cpuprobe-sim cpuprobe_foreign_test
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
