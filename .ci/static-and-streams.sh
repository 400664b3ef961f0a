#!/usr/bin/env bash
# Static analysis and memory checks: the layout of every C++ file against .clang-format,
# clang-tidy and cppcheck over the project's own code, then
# valgrind memcheck on the real tool, on cpuprobe-sim replaying recorded processors, and on the
# robustness tests with every child they start. Run from the repository root; any finding fails.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
ci_leg=${ci_leg:-static-and-streams}
# shellcheck source=.ci/lib.sh
source "$(dirname "$0")/lib.sh"
started=$SECONDS
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step "install clang-format, clang-tidy, cppcheck and valgrind"
ci_install clang-format clang-tidy cppcheck valgrind cpuid groff-base mandoc g++ cmake make \
    libgtest-dev libgmock-dev git python3

step "clang-format (.clang-format: any file laid out otherwise fails)"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror ||
    fail "some files are not formatted: run clang-format -i on them"
echo "clang-format: $(git ls-files '*.cpp' '*.h' | wc -l) files as .clang-format says"

step "compile database (build-tidy)"
cmake -S . -B build-tidy -DBUILD_TESTING=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null

step "clang-tidy (.clang-tidy: every finding is an error)"
# Several programs compile the same file (report/main.cpp is the entry of three); each file is
# analysed once, with the first of its commands.
python3 - build-tidy/compile_commands.json "$work/tidy-db/compile_commands.json" <<'PYTHON'
import json, os, sys
seen, unique = set(), []
for entry in json.load(open(sys.argv[1])):
    if entry["file"] not in seen:
        seen.add(entry["file"])
        unique.append(entry)
os.makedirs(os.path.dirname(sys.argv[2]), exist_ok=True)
json.dump(unique, open(sys.argv[2], "w"), indent=1)
PYTHON
run-clang-tidy -p "$work/tidy-db" -j 2 -quiet >"$work/tidy.log" 2>&1 || {
    grep -E 'warning:|error:' "$work/tidy.log" | sort -u
    fail "clang-tidy found problems"
}
echo "clang-tidy: no findings"

step "cppcheck"
# Suppressed, with the reason:
# - constParameter in cpu_probe.cpp: StoreName writes the name through a pointer into the
#   record, which cppcheck does not count as a write.
# - unusedStructMember in tests: a test case's members are read through GetParam(), which
#   cppcheck does not follow.
# - useStlAlgorithm in tests/support: building argv with push_back reads more plainly than
#   std::transform into a back_inserter. In probe/ and report/: the tool is built against bare
#   C libraries (klibc, CRTDLL) for the oldest processors, so it uses no C++ library at all.
cppcheck --project=build-tidy/compile_commands.json --library=googletest \
    --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr -q \
    --suppress=constParameter:probe/cpu_probe.cpp \
    --suppress='unusedStructMember:tests/*' \
    --suppress=useStlAlgorithm:tests/support/process.cpp \
    --suppress='useStlAlgorithm:probe/*' --suppress='useStlAlgorithm:report/*' ||
    fail "cppcheck found problems"
# The files for other targets compile to nothing here; check them as their targets see them.
cppcheck --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr -q \
    --library=windows -D_WIN32 -D_MSC_VER -D_M_X64 -I. \
    probe/processor_x86_id_bit.cpp probe/processor_x86_intrin.cpp probe/tick_windows.cpp \
    report/main.cpp report/report_output.cpp report/dump_cpuid.cpp \
    report/beside_program_windows.cpp report/entry_windows.cpp ||
    fail "cppcheck found problems in the Windows build"
cppcheck --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr -q \
    -D__aarch64__ -I. probe/processor_none.cpp || fail "cppcheck found problems off x86"
echo "cppcheck: no findings"

step "build for valgrind (build)"
cmake -S . -B build -DBUILD_TESTING=ON >/dev/null
cmake --build build -j2 --target cpuprobe cpuprobe-sim cpuprobe_robustness_test >/dev/null

memcheck=(valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=all
          --errors-for-leak-kinds=all)

step "no work before main"
# A global object with a constructor would run before main, in every program linked with it:
# the tool makes its system calls only once it runs, and only those its steps need.
constructors=$(nm -C build/cpuprobe | grep -E '_GLOBAL__sub_I|static initialization' || true)
[ -z "$constructors" ] || fail "global constructors in cpuprobe: $constructors"
echo "cpuprobe: no global constructor"

step "valgrind: the real tool"
"${memcheck[@]}" build/cpuprobe </dev/null >"$work/real.report" || fail "valgrind: cpuprobe"
[ "$(wc -l <"$work/real.report")" -eq 18 ] || fail "cpuprobe did not print 18 lines"
echo "cpuprobe: no errors, no leaks, nothing still reachable"

step "valgrind: cpuprobe-sim on this machine's processor and on the recorded scenarios"
cpuid -r -1 >"$work/this-machine.txt"
CPUPROBE_SCENARIO="$work/this-machine.txt" "${memcheck[@]}" build/cpuprobe-sim </dev/null \
    >/dev/null || fail "valgrind: cpuprobe-sim on this machine's dump"
replayed=0
for scenario in tests/scenarios/*.scenario; do
    [ -e "$scenario" ] || continue
    CPUPROBE_SCENARIO="$scenario" "${memcheck[@]}" build/cpuprobe-sim </dev/null \
        >"$work/sim.report" || fail "valgrind: cpuprobe-sim on $scenario"
    cmp -s "$work/sim.report" "${scenario%.scenario}.report" || fail "wrong report for $scenario"
    replayed=$((replayed + 1))
done
echo "cpuprobe-sim: no errors, no leaks; $replayed scenarios replayed with their reports"

step "valgrind: robustness tests, following every tool they start"
# Each process logs to its own file, kept off the streams the tests compare. A tool started
# with its stdout closed may write its report into its log, as that file then has descriptor
# 1; only valgrind's own lines (==PID==) count as findings.
"${memcheck[@]}" --trace-children=yes --log-file="$work/vg.%p" \
    build/cpuprobe_robustness_test --gtest_brief=1 || fail "robustness tests under valgrind"
if grep -l '^==[0-9]*==' "$work"/vg.*; then
    cat "$work"/vg.*
    fail "valgrind found problems in a child process"
fi
echo "robustness tests: passed, no valgrind findings in any process"

step "passed in $((SECONDS - started)) s"
