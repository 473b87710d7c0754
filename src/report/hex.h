#pragma once
// Upper-case hexadecimal text for report lines, without a formatted print per byte.

#include <cstddef>
#include <cstdint>

// Writes value as exactly eight hex digits at out; returns the end of what it wrote.
char* format_address(char* out, std::uint32_t value);

// Writes each of count bytes as two hex digits, nothing between them; returns the end.
char* format_bytes(char* out, const unsigned char* bytes, std::size_t count);
