// SAVESCRN.COM, for the DOS checks: writes the text on the screen into SCREEN.TXT, a line for
// each row, its trailing blanks left off, so that what a program showed on the console can be
// read after DOSBox has ended.
#include <stdio.h>

#include "dos/dos_system.h"

namespace {

// The BIOS's video mode (7: the monochrome adapter), columns and last row.
constexpr uint16_t kBiosDataSegment = 0x40;
constexpr uint16_t kVideoModeOffset = 0x49;
constexpr uint16_t kColumnsOffset = 0x4A;
constexpr uint16_t kLastRowOffset = 0x84;
constexpr uint8_t kMonochromeMode = 7;
constexpr uint16_t kColourTextSegment = 0xB800;
constexpr uint16_t kMonochromeTextSegment = 0xB000;
// A character and its attribute byte.
constexpr uint16_t kBytesPerCell = 2;
constexpr uint16_t kMostColumns = 132;

uint16_t BiosByte(uint16_t offset) { return PcFarByte(kBiosDataSegment, offset); }

}  // namespace

int main() {
    const uint16_t text =
        BiosByte(kVideoModeOffset) == kMonochromeMode ? kMonochromeTextSegment : kColourTextSegment;
    const uint16_t columns = BiosByte(kColumnsOffset);
    const uint16_t rows = static_cast<uint16_t>(BiosByte(kLastRowOffset) + 1);
    FILE* screen = fopen("SCREEN.TXT", "w");
    if (screen == nullptr || columns == 0 || columns > kMostColumns) {
        return 1;
    }
    char line[kMostColumns + 1];
    for (uint16_t row = 0; row < rows; ++row) {
        size_t length = 0;
        for (uint16_t column = 0; column < columns; ++column) {
            const auto cell = static_cast<uint16_t>((row * columns + column) * kBytesPerCell);
            line[column] = static_cast<char>(PcFarByte(text, cell));
            length = line[column] != ' ' && line[column] != '\0' ? column + 1u : length;
        }
        line[length] = '\n';
        fwrite(line, 1, length + 1, screen);
    }
    return fclose(screen) == 0 ? 0 : 1;
}
