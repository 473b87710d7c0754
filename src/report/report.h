#pragma once
// The difference report: takes both files' blocks in file order and prints one
// line per block that differs, each line held back until the next block has
// been seen so that differences close to a line boundary can be joined.

#include <cstdint>

// Capacity of every block buffer; no block is ever longer.
inline constexpr std::int32_t MAX_LINE_BYTES = 256;

// Most equal bytes between the last difference of one block and the first of
// the next for which the two lines are widened to meet at the block boundary.
inline constexpr std::int32_t BRIDGE_GAP = 4;

// Compares the block at address (length 1..MAX_LINE_BYTES bytes of each file),
// prints the held-back block's line if it differed, and holds this block back;
// length 0 marks the end of input, prints the last held-back line and reads no bytes.
void report_block(std::uint32_t address, const unsigned char* original,
                  const unsigned char* patched, std::int32_t length);
