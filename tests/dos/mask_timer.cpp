// MASKTIMR.COM, for the DOS checks: masks the timer's interrupt (IRQ 0) at the PIC and ends, so
// that the BIOS count stands still for the program run after it in the same DOSBox session.
#include "dos/dos_system.h"

namespace {

constexpr uint16_t kPicMaskPort = 0x21;
constexpr uint8_t kTimerInterruptBit = 0x01;

}  // namespace

int main() {
    PcOutByte(kPicMaskPort, static_cast<uint8_t>(PcInByte(kPicMaskPort) | kTimerInterruptBit));
    return 0;
}
