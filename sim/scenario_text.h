// The bytes of a scenario file as people really send them: a dump saved by a shell or an
// editor may be UTF-8 with or without a byte-order mark, or UTF-16 with one (Windows
// PowerShell 5.1's `>` writes UTF-16 little-endian), with LF or CRLF line ends. All of them
// read as the same scenario.
#pragma once

#include <string>

#include "sim/scenario.h"

// The file's bytes as UTF-8 text. A UTF-8 byte-order mark is dropped; after a UTF-16 one,
// little- or big-endian, the rest is converted from UTF-16 (a surrogate without its partner,
// or a last byte without its pair, becomes U+FFFD). Any other bytes are kept as they are.
std::string DecodeScenarioBytes(const std::string& bytes);

// Decodes the file's bytes and reads the scenario from the text. Besides a malformed directive,
// it refuses a file in which no line is a leaf line or a directive: such a file (empty, a
// report instead of a dump, UTF-16 without a byte-order mark, anything else) would otherwise
// replay as a processor that answers zeros everywhere. A file of directives alone is a
// hand-written scenario and is read: its leaves answer zeros because it says nothing of them.
// The refusal has errorLine 0, since it is about the file as a whole.
ScenarioResult ReadScenarioBytes(const std::string& bytes, Scenario& scenario);
