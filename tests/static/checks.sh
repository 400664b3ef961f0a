#!/usr/bin/env bash
# The static analysis and memory checks, each one test of the static preset:
#
#   checks.sh format SOURCE               every C++ file laid out as .clang-format says
#   checks.sh tidy SOURCE BUILD           clang-tidy (.clang-tidy: every finding is an error)
#   checks.sh cppcheck SOURCE BUILD       cppcheck over the project's code, and the files for
#                                         other targets as those targets see them
#   checks.sh before-main TOOL            no global constructor: nothing runs before main
#   checks.sh valgrind-tool TOOL          memcheck: no error, no leak, nothing still reachable
#   checks.sh valgrind-sim SIM SCENARIOS  the same for cpuprobe-sim on this machine's own dump
#                                         and on every scenario, each giving its report
#   checks.sh valgrind-children TEST      the robustness tests, following every tool they start
set -euo pipefail
memcheck=(valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=all
          --errors-for-leak-kinds=all)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case $1 in
    format)
        cd "$2" && git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror ;;
    tidy)
        run-clang-tidy -p "$3" -j 2 -quiet "^$2/(probe|report|sim|tests|fuzz|bench)/" >"$work/log" 2>&1 || {
            grep -E 'warning:|error:' "$work/log" | sort -u
            exit 1
        } ;;
    cppcheck)
        # Suppressed, with the reason: constParameter in cpu_probe.cpp (StoreName writes through
        # a pointer into the record, which cppcheck does not count); unusedStructMember in tests
        # (read through GetParam()); useStlAlgorithm in tests (a loop of push_back reads more
        # plainly), in probe/ and report/ (built against bare C libraries).
        cd "$2"
        cppcheck --project="$3/compile_commands.json" --library=googletest -q \
            --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr \
            --suppress="constParameter:$PWD/probe/cpu_probe.cpp" \
            --suppress="unusedStructMember:$PWD/tests/*" \
            --suppress="useStlAlgorithm:$PWD/tests/*" \
            --suppress="useStlAlgorithm:$PWD/probe/*" --suppress="useStlAlgorithm:$PWD/report/*"
        cppcheck --enable=warning,style,performance,portability --error-exitcode=1 -q \
            --inline-suppr --library=windows -D_WIN32 -D_MSC_VER -D_M_X64 -I. \
            probe/processor_x86_id_bit.cpp probe/processor_x86_intrin.cpp probe/tick_windows.cpp \
            report/main.cpp report/report_output.cpp report/dump_cpuid.cpp \
            report/beside_program_windows.cpp report/entry_windows.cpp
        cppcheck --enable=warning,style,performance,portability --error-exitcode=1 -q \
            --inline-suppr -D__aarch64__ -I. probe/processor_none.cpp
        cppcheck --enable=warning,style,performance,portability --error-exitcode=1 -q \
            --inline-suppr -D__MSDOS__ -D__i386__ -I. -Idos/include dos/*.cpp probe/tick_dos.cpp \
            probe/processor_x86_id_bit.cpp report/main.cpp report/report_output.cpp \
            report/dump_cpuid.cpp report/beside_program_dos.cpp ;;
    before-main)
        ! nm -C "$2" | grep -E '_GLOBAL__sub_I|static initialization' ;;
    valgrind-tool)
        "${memcheck[@]}" "$2" </dev/null >"$work/report"
        # shellcheck source=tests/report_shape.sh
        source "$(dirname "$0")/../report_shape.sh"
        check_report "$work/report" ;;
    valgrind-sim)
        cpuid -r -1 >"$work/this-machine.txt"
        CPUPROBE_SCENARIO="$work/this-machine.txt" "${memcheck[@]}" "$2" </dev/null >/dev/null
        for scenario in "$3"/*.scenario; do
            CPUPROBE_SCENARIO=$scenario "${memcheck[@]}" "$2" </dev/null >"$work/report"
            cmp "$work/report" "${scenario%.scenario}.report"
        done ;;
    valgrind-children)
        # Each process logs to its own file, kept off the streams the tests compare; only
        # valgrind's own lines (==PID==) count as findings.
        "${memcheck[@]}" --trace-children=yes --log-file="$work/vg.%p" "$2" --gtest_brief=1
        ! grep -H '^==[0-9]*==' "$work"/vg.* ;;
    *) sed -n 's/^#   checks.sh/usage: checks.sh/p' "$0" >&2 && exit 2 ;;
esac
