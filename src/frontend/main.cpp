// bvex: prints where a patched file differs from its original, block by block, in hex.

#include "args.h"
#include "compare.h"
#include "fatal.h"
#include "platform.h"
#include "reader.h"

namespace {

// Read-ahead for each file: large enough that system calls cost little per byte.
constexpr std::size_t READ_AHEAD_BYTES = std::size_t{256} * 1024;

unsigned char original_buffer[READ_AHEAD_BYTES];
unsigned char patched_buffer[READ_AHEAD_BYTES];

// Opens an existing file read-only as raw bytes, or ends the run with message.
int open_input(const char* path, const char* message) {
    const int fd = input_open(path);
    if (fd < 0) {
        fatal(message);
    }
    return fd;
}

}  // namespace

int bvex_main(int argc, char** argv) {
    const Args args = parse_args(argc, argv);
    const int original_fd = open_input(args.original, "cannot open original file");
    const int patched_fd = open_input(args.patched, "cannot open patched file");

    Reader original = reader_make(original_fd, original_buffer, READ_AHEAD_BYTES);
    Reader patched = reader_make(patched_fd, patched_buffer, READ_AHEAD_BYTES);
    original.lockstep = patched.lockstep = same_stream(original_fd, patched_fd);

    compare_outcome(compare_files(original, patched, args.line_width, args.block_address));
    input_close(original_fd);
    input_close(patched_fd);
    return 0;
}
