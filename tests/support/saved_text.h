// Plain ASCII text as the shells and editors of a bug reporter save it: with CRLF line ends,
// with a UTF-8 byte-order mark, or as UTF-16 with its byte-order mark. Written independently
// of the simulator's decoding, which the tests check against these.
#pragma once

#include <stdexcept>
#include <string>

// Every "\n" as "\r\n".
inline std::string WithCrlf(const std::string& text) {
    std::string crlf;
    for (const char c : text) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    return crlf;
}

inline std::string WithUtf8ByteOrderMark(const std::string& text) { return "\xEF\xBB\xBF" + text; }

enum class Utf16Order { kLittleEndian, kBigEndian };

// ASCII text as UTF-16, each character one code unit, without a byte-order mark.
inline std::string AsciiAsUtf16(const std::string& ascii, Utf16Order order) {
    std::string units;
    for (const char c : ascii) {
        if (static_cast<unsigned char>(c) > 0x7F) {
            throw std::invalid_argument("AsciiAsUtf16 takes ASCII only");
        }
        units += order == Utf16Order::kLittleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    }
    return units;
}

// ASCII text as UTF-16 after its byte-order mark, as Windows PowerShell 5.1 writes with `>`
// (little-endian).
inline std::string AsciiAsUtf16WithMark(const std::string& ascii, Utf16Order order) {
    const std::string mark = order == Utf16Order::kLittleEndian ? "\xFF\xFE" : "\xFE\xFF";
    return mark + AsciiAsUtf16(ascii, order);
}
