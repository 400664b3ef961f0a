# Installing and packaging cpuprobe.
#
# `cmake --install BUILD --prefix P` puts the tool in P/bin and, outside Windows, its manual
# page in P/share/man/man1. Nothing else is installed: cpuprobe-sim and the tests stay in the
# build folder. `cpack` in the build folder then makes a Debian package (cpuprobe_V_ARCH.deb)
# or, for a Windows build, a .zip holding cpuprobe.exe and README.txt.

include(GNUInstallDirs)

# ---------------------------------------------------------------------------------------------
# The manual page: version and date filled in here, so that the page always names the version
# it documents. The date honours SOURCE_DATE_EPOCH, which keeps package builds reproducible.
string(TIMESTAMP CPUPROBE_MAN_DATE "%Y-%m-%d" UTC)
set(CPUPROBE_MAN_PAGE ${PROJECT_BINARY_DIR}/man/cpuprobe.1)
configure_file(${PROJECT_SOURCE_DIR}/man/cpuprobe.1.in ${CPUPROBE_MAN_PAGE} @ONLY)

# ---------------------------------------------------------------------------------------------
# Install rules.
if(WIN32)
    # The zip is unpacked and run where it lies: the program and its README side by side.
    install(TARGETS cpuprobe RUNTIME DESTINATION .)
    # README.txt for Notepad and friends: the Markdown text as it is, with CRLF line ends.
    set(CPUPROBE_README_TXT ${PROJECT_BINARY_DIR}/README.txt)
    if(EXISTS ${PROJECT_SOURCE_DIR}/README.md)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                               ${PROJECT_SOURCE_DIR}/README.md)
        file(READ ${PROJECT_SOURCE_DIR}/README.md readme_text)
        string(REPLACE "\r\n" "\n" readme_text "${readme_text}")
        string(REPLACE "\n" "\r\n" readme_text "${readme_text}")
        file(WRITE ${CPUPROBE_README_TXT} "${readme_text}")
        install(FILES ${CPUPROBE_README_TXT} DESTINATION .)
    else()
        message(WARNING "README.md is missing: the Windows zip will have no README.txt")
    endif()
else()
    install(TARGETS cpuprobe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${CPUPROBE_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# ---------------------------------------------------------------------------------------------
# Man page lint: any warning from the formatters fails the test. groff writes its warnings to
# stderr but still exits 0, so its output is what is judged; -ww turns on every warning
# (-wall leaves out undefined macros, the commonest slip in a page). mandoc's lint mode exits
# non-zero on a warning by itself.
if(BUILD_TESTING AND NOT WIN32)
    find_program(CPUPROBE_GROFF groff)
    find_program(CPUPROBE_MANDOC mandoc)
    if(CPUPROBE_GROFF)
        add_test(NAME man_page_groff_warnings
                 COMMAND sh -c [[out=$("$1" -ww -mandoc -Tutf8 -z "$2" 2>&1) || exit 1
                                 [ -z "$out" ] || { printf '%s\n' "$out"; exit 1; }]]
                         sh ${CPUPROBE_GROFF} ${CPUPROBE_MAN_PAGE})
    endif()
    if(CPUPROBE_MANDOC)
        add_test(NAME man_page_mandoc_lint
                 COMMAND ${CPUPROBE_MANDOC} -T lint -W warning ${CPUPROBE_MAN_PAGE})
    endif()
    if(NOT CPUPROBE_GROFF AND NOT CPUPROBE_MANDOC)
        message(STATUS "Neither groff nor mandoc found: the man page is not linted")
    endif()
endif()

# ---------------------------------------------------------------------------------------------
# CPack: one package, named and versioned after the project.
set(CPACK_PACKAGE_NAME cpuprobe)
set(CPACK_PACKAGE_VENDOR "cpuprobe developers")
set(CPACK_PACKAGE_CONTACT "cpuprobe developers <cpuprobe@users.noreply.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win64)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(CPACK_SYSTEM_NAME win32)
    endif()
    set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
    # CPack puts the summary first, as the synopsis, and indents these lines below it.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "cpuprobe asks the processor it runs on for its vendor, name, family, model
and stepping and a set of instruction-set features (CPUID), measures its
clock with the time-stamp counter over half a second, prints an 18-line
report and waits for one keystroke.")
    # A native build leaves the architecture to CPack, which asks dpkg for the build machine's.
    # A cross build (32-bit x86, aarch64) names the target's, in Debian's spelling.
    set(debian_architectures i386 i386 i386 i386 amd64 amd64 arm64 arm64)
    set(processors i386 i486 i586 i686 x86_64 AMD64 aarch64 arm64)
    list(FIND processors "${CMAKE_SYSTEM_PROCESSOR}" processor_index)
    if(CMAKE_CROSSCOMPILING AND processor_index GREATER_EQUAL 0)
        list(GET debian_architectures ${processor_index} CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    endif()
    # The shared library dependencies come from dpkg-shlibdeps where it is installed (dpkg-dev)
    # and the build is native (it knows only the packages of the machine's own architecture);
    # otherwise the C and C++ runtimes of Debian 12's compiler are named by hand (safe, if
    # stricter).
    find_program(CPUPROBE_DPKG_SHLIBDEPS dpkg-shlibdeps)
    if(CPUPROBE_DPKG_SHLIBDEPS AND NOT CMAKE_CROSSCOMPILING)
        set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    else()
        set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
    endif()
    # Debian keeps manual pages gzipped (gzip -9n, as its own packaging tools do). The page is
    # compressed in CPack's staging folder just before the package is made, so that a plain
    # install still gets the readable file.
    set(gzip_script ${PROJECT_BINARY_DIR}/cpack_gzip_man_pages.cmake)
    file(WRITE ${gzip_script} [[
message(STATUS "gzip man pages under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
list(FILTER pages INCLUDE REGEX "/man/man[1-9]/[^/]+\\.[1-9]$")
foreach(page IN LISTS pages)
    execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip failed on ${page}")
    endif()
endforeach()
]])
    set(CPACK_PRE_BUILD_SCRIPTS ${gzip_script})
endif()

include(CPack)
