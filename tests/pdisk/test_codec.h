// A stand-in cartridge codec for the file-system tests: a simple, strict
// format ("TC1\n", then per entry 'D' or 'F', the name, '\n', the decimal
// size, '\n' and the bytes). Any flaw stops the reader with read_whole
// false. The writer can be told to refuse.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cart_codecs.h"

namespace test_codec {

// Encodes entries in the test format.
std::string encode(const std::vector<cart_entry> &entries);

// The entries of a test-format cartridge as "name=data" joined by ' ', with
// " <not whole>" when the reader stopped early; "<missing>" for no bytes.
std::string entries_of(const std::optional<std::string> &bytes);

// Installs the test codec for kinds 1 and 2 and clears 'refuse'.
void install();

// While true, the writer refuses every cartridge.
extern bool refuse;

// Encoder calls since install().
extern int encodes;

}  // namespace test_codec
