#pragma once
// Windows' UTF-16 command line and file names as UTF-8 text and back, losslessly:
// a surrogate without its partner is kept as the three-byte form of its own value.

#include <string>

// The UTF-8 form of text; no two different texts give the same bytes.
std::string utf8_from_utf16(const std::u16string& text);

// The text that utf8_from_utf16 turned into bytes; a byte that starts no well-formed
// sequence (overlong, beyond U+10FFFF, cut short) gives U+FFFD.
std::u16string utf16_from_utf8(const std::string& bytes);
