#include "compare.h"

#include <algorithm>

#include "equal.h"
#include "output.h"
#include "report.h"

namespace {

// Identical bytes are compared this many at a time before looking for the block that differs.
constexpr std::size_t EQUAL_STRETCH_BYTES = std::size_t{16} * 1024;

// Length of the leading run of whole blocks of width bytes that are equal in a and b,
// out of total bytes (a multiple of width); equal bytes are compared stretch at a time.
std::size_t equal_run(const unsigned char* a, const unsigned char* b, std::size_t total,
                      std::size_t width, std::size_t stretch) {
    // Where differences are dense the very first byte, or else the first block, differs:
    // say so at once.
    if (a[0] != b[0] || !bytes_equal(a, b, width)) {
        return 0;
    }
    std::size_t offset = width;
    while (offset < total) {
        const std::size_t n = std::min(stretch, total - offset);
        if (!bytes_equal(a + offset, b + offset, n)) {
            while (bytes_equal(a + offset, b + offset, width)) {
                offset += width;
            }
            return offset;
        }
        offset += n;
    }
    return total;
}

// Reports the whole blocks of width bytes in the first total bytes (a multiple of width)
// of a and b, the first at address. A run of equal blocks needs only its first
// report_block call: that call prints the held-back line, and the rest would neither
// print nor change what is held back.
// Returns the address after the last block reported. A failed write is seen by the caller:
// the report of the rest of these blocks only goes where the failed output drops it.
std::uint32_t report_whole_blocks(std::uint32_t address, const unsigned char* a,
                                  const unsigned char* b, std::size_t total, std::size_t width) {
    const auto length = static_cast<std::int32_t>(width);
    const std::size_t stretch = std::max<std::size_t>(1, EQUAL_STRETCH_BYTES / width) * width;
    std::size_t at = 0;
    while (at < total) {
        const std::size_t equal = equal_run(a + at, b + at, total - at, width, stretch);
        if (equal > 0) {
            report_block(address, a + at, b + at, length);
            address += static_cast<std::uint32_t>(equal);
            at += equal;
        }
        if (at < total) {
            report_block(address, a + at, b + at, length);
            address += static_cast<std::uint32_t>(width);
            at += width;
        }
    }
    return address;
}

// Reads until want bytes of r are buffered, as reader_fill does. A read may wait for input
// (a pipe, a terminal), so the report's finished lines are written out before one: each line
// is seen as soon as the block after it has been compared. Dense reports still go out in full
// buffers, since a read-ahead's worth of dense input makes more report than the buffer holds.
long fill(Reader& r, std::size_t want) {
    if (reader_available(r) < want) {
        (void)output_flush();  // a failure ends the block loop
    }
    return reader_fill(r, want);
}

}  // namespace

CompareResult compare_files(Reader& original, Reader& patched, std::int32_t line_width,
                            std::uint32_t block_address) {
    const auto width = static_cast<std::size_t>(line_width);
    std::uint32_t address = block_address;
    CompareResult result = CompareResult::done;
    while (!output_failed()) {
        // The patched file is read only once the original has given something for this block.
        const long got_original = fill(original, width);
        if (got_original <= 0) {
            result = got_original < 0 ? CompareResult::original_unreadable : result;
            break;
        }
        const long got_patched = fill(patched, width);
        if (got_patched <= 0) {
            result = got_patched < 0 ? CompareResult::patched_unreadable : result;
            break;
        }
        const std::size_t whole =
            std::min(reader_available(original), reader_available(patched)) / width;
        if (whole > 0) {
            // Every whole block both buffers hold is read in full from both files.
            address = report_whole_blocks(address, reader_data(original), reader_data(patched),
                                          whole * width, width);
            reader_take(original, whole * width);
            reader_take(patched, whole * width);
        } else {
            // A last, short block: what the longer read gave beyond it is dropped.
            const long length = std::min(got_original, got_patched);
            report_block(address, reader_data(original), reader_data(patched),
                         static_cast<std::int32_t>(length));
            address += static_cast<std::uint32_t>(length);
            reader_take(original, static_cast<std::size_t>(got_original));
            reader_take(patched, static_cast<std::size_t>(got_patched));
        }
    }
    report_block(address, nullptr, nullptr, 0);
    // A report that could not be written outranks a read failure: either way the run
    // fails, and the user must know the report is incomplete whatever was buffered.
    return output_flush() ? result : CompareResult::output_failed;
}
