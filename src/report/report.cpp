#include "report.h"

#include <algorithm>
#include <cstring>

#include "hex.h"
#include "output.h"

namespace {

// The block held back until the next one has been compared.
struct PendingBlock {
    std::int32_t first_diff;  // first differing index, -1 when nothing differs
    std::int32_t end_diff;    // one past the last byte the line shows, -1 when nothing differs
    std::int32_t length;
    std::uint32_t address;
    unsigned char original[MAX_LINE_BYTES];
    unsigned char patched[MAX_LINE_BYTES];
};

PendingBlock pending = {-1, -1, 0, 0, {}, {}};

// Copies the size bytes (at most MAX_LINE_BYTES) of a block, sixteen at a time and the last
// sixteen overlapping those before, or one at a time when there are fewer: for blocks this
// short a library call or a string instruction would cost more than the copy itself (and a
// call of this function too: it is marked inline for the hardened build).
inline void copy_block(unsigned char* to, const unsigned char* from, std::size_t size) {
    constexpr std::size_t PIECE = 16;
    if (size < PIECE) {
        for (std::size_t i = 0; i < size; ++i) {
            to[i] = from[i];
        }
        return;
    }
    for (std::size_t at = 0; at + PIECE < size; at += PIECE) {
        std::memcpy(to + at, from + at, PIECE);
    }
    std::memcpy(to + size - PIECE, from + size - PIECE, PIECE);
}

// Writes the held-back block's line: address, original span, patched span.
void print_pending() {
    const auto first = static_cast<std::size_t>(pending.first_diff);
    const auto count = static_cast<std::size_t>(pending.end_diff - pending.first_diff);
    char* const line = output_space(OUTPUT_LINE_MAX);
    char* const end = format_line(line, pending.address + static_cast<std::uint32_t>(first),
                                  pending.original + first, pending.patched + first, count);
    output_commit(static_cast<std::size_t>(end - line));
}

}  // namespace

void report_block(std::uint32_t address, const unsigned char* original,
                  const unsigned char* patched, std::int32_t length) {
    // Span of differing bytes in the new block.
    std::int32_t first = -1;
    std::int32_t end = -1;
    for (std::int32_t i = 0; i < length; ++i) {
        if (original[i] != patched[i]) {
            first = i;
            break;
        }
    }
    if (first >= 0) {
        end = length;
        while (original[end - 1] == patched[end - 1]) {
            --end;
        }
    }

    // Differences close to either side of the boundary: widen both lines to meet there.
    if (first >= 0 && pending.first_diff >= 0) {
        const std::int32_t gap = (pending.length - pending.end_diff) + first;
        if (gap <= BRIDGE_GAP) {
            pending.end_diff = pending.length;
            first = 0;
        }
    }

    if (pending.first_diff >= 0) {
        // A single equal byte left at the end of a line is shown with it.
        if (pending.length - pending.end_diff == 1) {
            pending.end_diff = pending.length;
        }
        print_pending();
    }

    pending.first_diff = first;
    pending.end_diff = end;
    pending.length = length;
    pending.address = address;
    if (length > 0) {
        // No block is longer than the copies; the bound lets the compiler prove that they fit,
        // so that the hardened build needs no check of its own on every block.
        const auto size = static_cast<std::size_t>(std::min(length, MAX_LINE_BYTES));
        copy_block(pending.original, original, size);
        copy_block(pending.patched, patched, size);
    }
}
