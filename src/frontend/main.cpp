// bvex: prints where a patched file differs from its original, block by block, in hex.

#include "args.h"
#include "compare.h"
#include "platform.h"
#include "reader.h"

namespace {

// Read-ahead for each file: large enough that system calls cost little per byte.
constexpr std::size_t READ_AHEAD_BYTES = std::size_t{256} * 1024;

// Where the read buffers start in their page, chosen here rather than left to the linker.
// Reading a file from the page cache is the kernel copying its pages into a buffer: the
// copy's source starts on a page boundary and its destination this many bytes past one, and
// the copy's speed depends on that offset. Reading two 1 GiB files into buffers at a range of
// offsets (bench/floor.cpp --sweep) on the x86-64 machine (AMD EPYC) where bvex is
// benchmarked took, against the fastest offset:
//   1 to 24 bytes, just past the source's place in its page: 1.3 to 4 times as long;
//   0, 32, 64, 736, 2080 and other multiples of 32: 1.06 to 1.13 with the machine otherwise
//   idle, within a few per cent of the rest with it busy;
//   others, such as 40 to 88, 2096 or 4088: 1.00 to 1.04, and 80 within 2 % of the fastest
//   in every sweep.
// Left to the linker, the offset moved whenever an unrelated global variable did, and the
// identical and sparse cases' speed with it. Other processors may prefer other offsets:
// the sweep shows which. A sparse file's holes are read as its data is where the file
// system keeps them as zeroed pages in the page cache (ext4 and most disk file systems): 80
// is also the fastest there, and 0, 32, 736 or 4064 took 1.11 to 1.14 as long. On tmpfs the
// kernel writes zeros straight into the buffer instead, and that prefers multiples of 32: 80
// read tmpfs holes about 8 % slower than they did. Files on disk are what bvex compares, so
// 80 it is; bench/run.sh sweeps both the identical and the sparse pair.
// Both buffers share one page-aligned block, the second straight after the first and so at
// the same offset; the block spans as many pages as two unaligned buffers would.
constexpr std::size_t PAGE_BYTES = 4096;
constexpr std::size_t READ_BUFFER_PAGE_OFFSET = 80;

alignas(PAGE_BYTES) unsigned char read_buffers[READ_BUFFER_PAGE_OFFSET + 2 * READ_AHEAD_BYTES];
unsigned char* const original_buffer = read_buffers + READ_BUFFER_PAGE_OFFSET;
unsigned char* const patched_buffer = original_buffer + READ_AHEAD_BYTES;

}  // namespace

int bvex_main(int argc, char** argv) {
    const Args args = parse_args(argc, argv);
    const auto [original_fd, patched_fd] = open_inputs(args.original, args.patched);

    Reader original = reader_make(original_fd, original_buffer, READ_AHEAD_BYTES);
    Reader patched = reader_make(patched_fd, patched_buffer, READ_AHEAD_BYTES);
    original.lockstep = patched.lockstep = same_stream(original_fd, patched_fd);

    compare_outcome(compare_files(original, patched, args.line_width, args.block_address));
    input_close(original_fd);
    input_close(patched_fd);
    return 0;
}
