/* Read before every source file of the klibc build (g++ -include): klibc's headers are written
 * for C alone. Each is read here once, inside one extern "C" block, with its own extern "C"
 * marker made plain (in C++ it may not stand inside a function, where one of klibc's inline
 * functions declares open()); C's _Bool is C++'s bool. The sources' own includes of these
 * headers then find them read already. Add a header here when a source starts to use it. */
#ifdef __cplusplus
#define _Bool bool
extern "C" {
#include <klibc/extern.h>
#undef __extern
#define __extern extern
#include <errno.h>
#define __STDC_FORMAT_MACROS 1 /* the PRI macros, which C++ had to ask for */
#include <asm/unistd.h>
#include <inttypes.h>
#include <signal.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>
}
#endif
