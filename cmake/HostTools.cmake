# The tools of this machine that a cross build runs beside its own programs: cpuprobe and
# cpuprobe-sim, the yardsticks (the DOS entry's report of a processor without CPUID comes from
# cpuprobe-sim), and, for the checks, cpuprobe_foreign_test (tests/platforms). Built from the
# same sources by this machine's compiler into one folder that every cross build shares.
include_guard(GLOBAL)
include(ExternalProject)
set(CPUPROBE_HOST_DIR ${PROJECT_SOURCE_DIR}/build-host CACHE PATH
    "Where the cross builds build this machine's own tools")
set(cpuprobe_host_targets cpuprobe cpuprobe-sim)
if(BUILD_TESTING)
  list(APPEND cpuprobe_host_targets cpuprobe_foreign_test)
endif()
ExternalProject_Add(cpuprobe_host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CPUPROBE_HOST_DIR}
  CMAKE_ARGS -DBUILD_TESTING=${BUILD_TESTING} -DCPUPROBE_WERROR=${CPUPROBE_WERROR}
             -DCMAKE_BUILD_TYPE=Release
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${CPUPROBE_HOST_DIR} --target ${cpuprobe_host_targets}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
