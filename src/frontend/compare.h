#pragma once
// The block loop: reads both files in step, one block of the line width at a
// time, and hands every block to the difference report. The step that turns buffered
// bytes into blocks is shared by the command line, which reads each file when the step
// asks for more, and by the web page, which is handed both files' bytes as they come.

#include <cstddef>
#include <cstdint>

#include "reader.h"

enum class CompareResult {
    done,                 // compared up to the end of the shorter file
    original_unreadable,  // a read of the original file failed
    patched_unreadable,   // a read of the patched file failed
    output_failed,        // the report could not be written
};

// Which file the comparison must be given more bytes of next, if any.
enum class Need {
    original,
    patched,
    nothing,  // the comparison is over
};

// One comparison under way: both files' readers, the line width and the next block's address.
struct Comparison {
    Reader* original;
    Reader* patched;
    std::size_t width;  // 0..MAX_LINE_BYTES
    std::uint32_t address;
};

// A comparison of the two readers' files in blocks of line_width bytes, the first at
// block_address.
Comparison comparison_make(Reader& original, Reader& patched, std::int32_t line_width,
                           std::uint32_t block_address);

// Reports every block the buffered bytes make, then says which file must give more: one that
// lacks a whole block and is not at_end. Writes out the finished lines before asking.
Need compare_buffered(Comparison& c);

// Prints the last held-back line and writes out the report; returns result, or output_failed
// when the report could not be written, which outranks a failed read.
CompareResult compare_finish(Comparison& c, CompareResult result);

// Compares the two files in blocks of line_width (0..MAX_LINE_BYTES) bytes, the first at
// block_address, reading each when the comparison needs it, and prints the whole report; on
// a read failure what was compared is still printed.
CompareResult compare_files(Reader& original, Reader& patched, std::int32_t line_width,
                            std::uint32_t block_address);

// The descriptors of the two files.
struct InputFiles {
    int original;
    int patched;
};

// Opens the original file, then the patched file, read-only as raw bytes; ends the process
// through fatal ("cannot open original file", then "cannot open patched file") when one
// cannot be opened.
InputFiles open_inputs(const char* original, const char* patched);

// Ends the run as result says: returns after a comparison that ran to its end; otherwise ends
// the process through fatal with the result's message.
void compare_outcome(CompareResult result);
