#pragma once
// The block loop: reads both files in step, one block of the line width at a
// time, and hands every block to the difference report.

#include <cstdint>

#include "reader.h"

enum class CompareResult {
    done,                 // compared up to the end of the shorter file
    original_unreadable,  // a read of the original file failed
    patched_unreadable,   // a read of the patched file failed
    output_failed,        // the report could not be written
};

// Compares the two files in blocks of line_width (0..MAX_LINE_BYTES) bytes, the first at
// block_address, prints the whole report and writes it out; on a read failure what was
// compared is still printed. A failed write is reported before a failed read.
CompareResult compare_files(Reader& original, Reader& patched, std::int32_t line_width,
                            std::uint32_t block_address);
