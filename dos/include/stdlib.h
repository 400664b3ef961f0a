// Read by the compiler's own intrinsics headers (x86intrin.h, through mm_malloc.h), which the
// processor files include for the flags register and RDTSC. The DOS programs allocate nothing:
// malloc and free are declared for those headers and defined nowhere, so a call fails to link.
#pragma once

#include <stddef.h>

extern "C" {
void* malloc(size_t size);
void free(void* pointer);
}
