#include "compare.h"

#include <algorithm>
#include <cstring>

#include "output.h"
#include "report.h"

namespace {

// Identical bytes are compared this many at a time before looking for the block that differs.
constexpr std::size_t EQUAL_STRETCH_BYTES = std::size_t{16} * 1024;

// Number of leading blocks of width bytes, out of count, that are equal in a and b.
std::size_t count_equal_blocks(const unsigned char* a, const unsigned char* b, std::size_t count,
                               std::size_t width) {
    const std::size_t total = count * width;
    const std::size_t stretch = std::max<std::size_t>(1, EQUAL_STRETCH_BYTES / width) * width;
    std::size_t offset = 0;
    while (offset < total) {
        const std::size_t n = std::min(stretch, total - offset);
        if (std::memcmp(a + offset, b + offset, n) != 0) {
            while (std::memcmp(a + offset, b + offset, width) == 0) {
                offset += width;
            }
            break;
        }
        offset += n;
    }
    return std::min(offset, total) / width;
}

// Reports count whole blocks of width bytes held in a and b, the first at address.
// A run of equal blocks needs only its first report_block call: that call prints the
// held-back line, and the rest would neither print nor change what is held back.
// Returns the address after the last block reported; stops early when output fails.
std::uint32_t report_whole_blocks(std::uint32_t address, const unsigned char* a,
                                  const unsigned char* b, std::size_t count, std::size_t width) {
    const auto length = static_cast<std::int32_t>(width);
    std::size_t i = 0;
    while (i < count && !output_failed()) {
        const std::size_t equal =
            count_equal_blocks(a + i * width, b + i * width, count - i, width);
        if (equal > 0) {
            report_block(address, a + i * width, b + i * width, length);
            address += static_cast<std::uint32_t>(equal * width);
            i += equal;
        }
        if (i < count) {
            report_block(address, a + i * width, b + i * width, length);
            address += static_cast<std::uint32_t>(width);
            ++i;
        }
    }
    return address;
}

}  // namespace

CompareResult compare_files(Reader& original, Reader& patched, std::int32_t line_width,
                            std::uint32_t block_address) {
    const auto width = static_cast<std::size_t>(line_width);
    std::uint32_t address = block_address;
    CompareResult result = CompareResult::done;
    while (!output_failed()) {
        // The patched file is read only once the original has given something for this block.
        const long got_original = reader_fill(original, width);
        if (got_original <= 0) {
            result = got_original < 0 ? CompareResult::original_unreadable : result;
            break;
        }
        const long got_patched = reader_fill(patched, width);
        if (got_patched <= 0) {
            result = got_patched < 0 ? CompareResult::patched_unreadable : result;
            break;
        }
        const std::size_t whole =
            std::min(reader_available(original), reader_available(patched)) / width;
        if (whole > 0) {
            // Every whole block both buffers hold is read in full from both files.
            address = report_whole_blocks(address, reader_data(original), reader_data(patched),
                                          whole, width);
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
    const bool written = output_flush();
    if (result == CompareResult::done && !written) {
        result = CompareResult::output_failed;
    }
    return result;
}
