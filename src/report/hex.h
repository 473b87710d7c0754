#pragma once
// A report line as text: upper-case hexadecimal made sixteen bytes at a time, without a
// formatted print per byte.

#include <cstddef>
#include <cstdint>

// Writes "AAAAAAAA: " with address, the count bytes of original and of patched as two digits
// each with one space between the halves, and a newline; returns the end of what it wrote.
char* format_line(char* out, std::uint32_t address, const unsigned char* original,
                  const unsigned char* patched, std::size_t count);
