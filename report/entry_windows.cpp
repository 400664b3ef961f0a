// Where the smallest Windows build starts, in place of MinGW's crt2.o, whose set-up (TLS
// callbacks, the runtime's pseudo-relocations, its own argument parsing) the tool has no use
// for and whose code is built for a later processor. The C runtime DLL sets itself up when
// Windows loads it; the entry only runs main, which takes no arguments, and ends the process
// through the runtime's exit, which writes out what stdout still holds.
#include <stdlib.h>

// main under another name: C++ does not let a program call main itself.
int ToolMain() __asm__("_main");

// GCC's main calls __main first, which in MinGW's start-up runs the constructors of global
// objects. The tool has none.
extern "C" void __main() {}  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

extern "C" void CpuprobeStart() { exit(ToolMain()); }
