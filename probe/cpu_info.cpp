#include "probe/cpu_info.h"

// Static storage: every field starts at zero and both texts start empty.
CpuInfo TheCpuInfo;
