// The format of a 32-bit number for printf: gcc -m16 has 32-bit ints, as -m32 does.
#pragma once

#include <stdint.h>

#define PRIx32 "x"
