#pragma once
// The command line: bvex [-NN] <original file> <patched file> [block address]

#include <cstdint>

// Line width used when no -NN option is given.
inline constexpr std::int32_t DEFAULT_LINE_BYTES = 16;

struct Args {
    std::int32_t line_width;
    std::uint32_t block_address;
    const char* original;
    const char* patched;
};

// Reads decimal digits from the start of text; past 2^31 - 1 gives 2^31 - 1, no digits 0.
std::int32_t parse_line_width(const char* text);

// Reads a hex number with optional blanks, sign and 0x; too large gives FFFFFFFF, no number 0.
std::uint32_t parse_block_address(const char* text);

// Reads the whole command line; ends the process through fatal on any error in it.
Args parse_args(int argc, char** argv);
