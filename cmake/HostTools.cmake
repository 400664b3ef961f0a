# The tools of this machine that a cross build runs beside its own programs: cpuprobe and
# cpuprobe-sim, the yardsticks (the DOS entry's report of a processor without CPUID comes from
# cpuprobe-sim), and, for the checks, cpuprobe_foreign_test (tests/platforms). They are the
# README's build's (build/, the default preset), where that has the tests; elsewhere they are
# built from the same sources by this machine's compiler into build-host, which every cross
# build shares.
include_guard(GLOBAL)
include(ExternalProject)
set(cpuprobe_host_targets cpuprobe cpuprobe-sim)
if(BUILD_TESTING)
  list(APPEND cpuprobe_host_targets cpuprobe_foreign_test)
endif()
set(cpuprobe_readme_build ${PROJECT_SOURCE_DIR}/build)
set(cpuprobe_host_configure "")
if(EXISTS ${cpuprobe_readme_build}/CMakeCache.txt)
  file(STRINGS ${cpuprobe_readme_build}/CMakeCache.txt cpuprobe_readme_testing
       REGEX "^BUILD_TESTING:BOOL=ON$")
endif()
if(cpuprobe_readme_testing)
  set(CPUPROBE_HOST_DIR ${cpuprobe_readme_build} CACHE PATH "This machine's own tools")
  # Built as it is configured, never configured again from here.
  set(cpuprobe_host_configure CONFIGURE_COMMAND "")
else()
  set(CPUPROBE_HOST_DIR ${PROJECT_SOURCE_DIR}/build-host CACHE PATH "This machine's own tools")
endif()
ExternalProject_Add(cpuprobe_host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CPUPROBE_HOST_DIR}
  ${cpuprobe_host_configure}
  CMAKE_ARGS -DBUILD_TESTING=${BUILD_TESTING} -DCPUPROBE_WERROR=${CPUPROBE_WERROR}
             -DCMAKE_BUILD_TYPE=Release
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${CPUPROBE_HOST_DIR} --target ${cpuprobe_host_targets}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
