# Writes OUTPUT: the report of a processor without CPUID as cpuprobe-sim (SIM) gives it, with
# CR LF line ends, the text the DOS entry prints on an 8086, 8088, 80186 or 286.
#
#   cmake -DSIM=PATH -DOUTPUT=PATH -P no_cpuid_report.cmake
file(WRITE "${OUTPUT}.scenario" "@no-cpuid\n")
set(ENV{CPUPROBE_SCENARIO} "${OUTPUT}.scenario")
execute_process(COMMAND "${SIM}" INPUT_FILE /dev/null OUTPUT_VARIABLE report
                RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT report MATCHES "\nCPUID       0\n")
  message(FATAL_ERROR "${SIM} gave no report of a processor without CPUID (status ${status})")
endif()
string(REPLACE "\n" "\r\n" report "${report}")
file(WRITE "${OUTPUT}" "${report}")
