// The millisecond tick count on DOS: the BIOS count of the timer's interrupts (0040:006C, one
// every 65536/1,193,182 s) and channel 0 of the 8254, latched and read back to place the
// reading inside the current period, without reprogramming the timer. 0 at the preparation,
// then the whole milliseconds of the timer since (probe/tick_dos_count.h). Where the timer's
// interrupt is masked the count cannot be read; where the BIOS stops counting it, the count
// stops and the clock gives up as it does on any system.
#include "probe/native_target.h"

#if CPUPROBE_TARGET_DOS

#include "dos/dos_system.h"
#include "probe/hardware.h"
#include "probe/tick_dos_count.h"

namespace {

constexpr uint16_t kBiosDataSegment = 0x40;
constexpr uint16_t kBiosTickCountOffset = 0x6C;

// The 8254: read-back (bits 7-6), latching count and status (bits 5 and 4 clear), of counter 0
// (bit 1); then the status, the count's low byte and its high byte are read from channel 0.
constexpr uint16_t kTimerChannel0Port = 0x40;
constexpr uint16_t kTimerControlPort = 0x43;
constexpr uint8_t kReadBackCounter0 = 0xC2;

// The 8259: OCW3 0x0A makes the next read of the command port give the request register; the
// mask register is read from the data port. The timer is IRQ 0.
constexpr uint16_t kPicCommandPort = 0x20;
constexpr uint16_t kPicMaskPort = 0x21;
constexpr uint8_t kPicReadRequests = 0x0A;
constexpr uint8_t kTimerInterruptBit = 0x01;

// A count of 0 or a null count lasts a clock or two: a few more readings pass it.
constexpr int kMostReadings = 4;

DosTickCount theCount{};

TimerReading ReadTimerOnce() {
    TimerReading reading{};
    const uint32_t flags = PcInterruptsOff();
    reading.biosTicks = PcFarDword(kBiosDataSegment, kBiosTickCountOffset);
    PcOutByte(kTimerControlPort, kReadBackCounter0);
    reading.status = PcInByte(kTimerChannel0Port);
    const uint8_t low = PcInByte(kTimerChannel0Port);
    const uint8_t high = PcInByte(kTimerChannel0Port);
    PcOutByte(kPicCommandPort, kPicReadRequests);
    reading.tickRequested = (PcInByte(kPicCommandPort) & kTimerInterruptBit) != 0;
    PcRestoreFlags(flags);
    reading.count = static_cast<uint16_t>(high << 8 | low);
    return reading;
}

TimerReading ReadTimer() {
    TimerReading reading = ReadTimerOnce();
    for (int again = 1; again < kMostReadings && ReadingIsAmbiguous(reading); ++again) {
        reading = ReadTimerOnce();
    }
    return reading;
}

}  // namespace

bool HardwarePrepareMillisecondTick() {
    if ((PcInByte(kPicMaskPort) & kTimerInterruptBit) != 0) {
        return false;
    }
    const TimerReading first = ReadTimer();
    if (!TimerIsPeriodic(first.status)) {
        return false;
    }
    theCount = StartCount(first);
    return true;
}

// Once stopped, the count is given without reading the timer again, so that the clock's
// bound of reads without a move passes quickly.
uint32_t HardwareMillisecondTick() {
    if (!theCount.stopped) {
        TakeReading(theCount, ReadTimer());
    }
    return theCount.milliseconds;
}

#endif
