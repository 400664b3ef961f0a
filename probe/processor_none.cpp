// Any processor that is not x86 has no CPUID instruction and no time-stamp counter as the
// probe knows them: it reports the all-zero record.
#include "probe/native_target.h"

#if !CPUPROBE_TARGET_X86

#include "probe/hardware.h"

bool HardwareIdBitCanChange() { return false; }

CpuidRegisters HardwareCpuid(uint32_t /*leaf*/) { return {0, 0, 0, 0}; }

bool HardwareTimeStampCounterReadable() { return false; }

uint64_t HardwareTimeStampCounter() { return 0; }

#endif
