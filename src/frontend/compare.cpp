#include "compare.h"

#include <algorithm>

#include "equal.h"
#include "fatal.h"
#include "output.h"
#include "platform.h"
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

// Asks for more of a file. A read may wait for input (a pipe, a terminal), so the report's
// finished lines are written out first: each line is seen as soon as the block after it has
// been compared. Dense reports still go out in full buffers, since a read-ahead's worth of
// dense input makes more report than the buffer holds.
Need ask_for(Need need) {
    (void)output_flush();  // a failure ends the block loop
    return need;
}

}  // namespace

Comparison comparison_make(Reader& original, Reader& patched, std::int32_t line_width,
                           std::uint32_t block_address) {
    return Comparison{&original, &patched, static_cast<std::size_t>(line_width), block_address};
}

Need compare_buffered(Comparison& c) {
    Reader& original = *c.original;
    Reader& patched = *c.patched;
    const std::size_t width = c.width;
    while (!output_failed()) {
        // The patched file is read only once the original has given something for this block.
        if (reader_available(original) < width && !original.at_end) {
            return ask_for(Need::original);
        }
        if (reader_available(original) == 0) {
            break;
        }
        if (reader_available(patched) < width && !patched.at_end) {
            return ask_for(Need::patched);
        }
        if (reader_available(patched) == 0) {
            break;
        }
        const std::size_t whole =
            std::min(reader_available(original), reader_available(patched)) / width;
        if (whole > 0) {
            // Every whole block both buffers hold is read in full from both files.
            c.address = report_whole_blocks(c.address, reader_data(original), reader_data(patched),
                                            whole * width, width);
            reader_take(original, whole * width);
            reader_take(patched, whole * width);
        } else {
            // A last, short block: what the longer read gave beyond it is dropped. Both files
            // are asked again, as a plain loop of reads would: the next read finds the end.
            const std::size_t got_original = std::min(reader_available(original), width);
            const std::size_t got_patched = std::min(reader_available(patched), width);
            const std::size_t length = std::min(got_original, got_patched);
            report_block(c.address, reader_data(original), reader_data(patched),
                         static_cast<std::int32_t>(length));
            c.address += static_cast<std::uint32_t>(length);
            reader_take(original, got_original);
            reader_take(patched, got_patched);
            original.at_end = patched.at_end = false;
        }
    }
    return Need::nothing;
}

CompareResult compare_finish(Comparison& c, CompareResult result) {
    report_block(c.address, nullptr, nullptr, 0);
    // A report that could not be written outranks a read failure: either way the run
    // fails, and the user must know the report is incomplete whatever was buffered.
    return output_flush() ? result : CompareResult::output_failed;
}

CompareResult compare_files(Reader& original, Reader& patched, std::int32_t line_width,
                            std::uint32_t block_address) {
    Comparison c = comparison_make(original, patched, line_width, block_address);
    for (Need need = compare_buffered(c); need != Need::nothing; need = compare_buffered(c)) {
        Reader& r = need == Need::original ? original : patched;
        const long got = reader_fill(r, c.width);
        if (got < 0) {
            return compare_finish(c, need == Need::original ? CompareResult::original_unreadable
                                                            : CompareResult::patched_unreadable);
        }
        r.at_end = static_cast<std::size_t>(got) < c.width;
    }
    return compare_finish(c, CompareResult::done);
}

InputFiles open_inputs(const char* original, const char* patched) {
    const int original_fd = input_open(original);
    if (original_fd < 0) {
        fatal("cannot open original file");
    }
    const int patched_fd = input_open(patched);
    if (patched_fd < 0) {
        fatal("cannot open patched file");
    }
    return InputFiles{original_fd, patched_fd};
}

void compare_outcome(CompareResult result) {
    switch (result) {
        case CompareResult::done:
            return;
        case CompareResult::original_unreadable:
            fatal("cannot read original file");
        case CompareResult::patched_unreadable:
            fatal("cannot read patched file");
        case CompareResult::output_failed:
            fatal("cannot write output");
    }
}
