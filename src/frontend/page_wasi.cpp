// The web page's bvex: a WASI reactor whose exported calls are handed both files' bytes as
// the page reads them, instead of reading the files itself. A browser can read a file only
// asynchronously, and a module that waits for each read inside a system call needs the
// browser to suspend WebAssembly, which not every browser can. So the page reads, and each
// call here runs the same block loop step as the command line (compare_buffered) on what it
// has been given, then says which file it needs more of.
//
// The command line comes from the WASI arguments, and is read, checked and answered exactly
// as the command line's (parse_args, open_inputs, fatal): every message and exit status is
// the command line's, ending the module through proc_exit.
//
// A run, from the page's side:
//   need = bvex_page_start()
//   while need is 0 (original) or 1 (patched):
//     with more bytes of that file: room = bvex_page_room(need), put up to room bytes at
//       bvex_page_space(need), need = bvex_page_give(need, count)
//     at its end: need = bvex_page_end(need, 0); when it cannot be read: bvex_page_end(need, 1)
//   need 2: the comparison ran to its end and the whole report is written (status 0).

#include <wasi/api.h>
#include <cstdint>
#include <cstdlib>

#include "args.h"
#include "compare.h"
#include "fatal.h"
#include "platform.h"
#include "reader.h"

namespace {

// Each file's buffer: the page's reads are up to 4 MiB, and a larger buffer lets one file run
// ahead of the other without waiting.
constexpr std::size_t PAGE_BUFFER_BYTES = std::size_t{4} << 20;

unsigned char original_buffer[PAGE_BUFFER_BYTES];
unsigned char patched_buffer[PAGE_BUFFER_BYTES];

// The run under way: the files' readers (each with its descriptor), the comparison and the
// block address it started from.
struct PageRun {
    Reader original;
    Reader patched;
    Comparison comparison;
    std::uint32_t block_address;
};

PageRun run;

// What the page is told to do next.
constexpr int GIVE_ORIGINAL = 0;
constexpr int GIVE_PATCHED = 1;
constexpr int FINISHED = 2;

Reader& side(int which) { return which == GIVE_ORIGINAL ? run.original : run.patched; }

// The comparison's next step on what it has been given: the file it needs more of, or, once
// it is over, its end as the command line's (the last line, the report written out, the files
// closed; fatal on a failed write).
int step() {
    const Need need = compare_buffered(run.comparison);
    if (need != Need::nothing) {
        return need == Need::original ? GIVE_ORIGINAL : GIVE_PATCHED;
    }
    compare_outcome(compare_finish(run.comparison, CompareResult::done));
    input_close(run.original.fd);
    input_close(run.patched.fd);
    return FINISHED;
}

// The WASI command line, as a command's main receives it.
char** wasi_arguments(int& argc) {
    __wasi_size_t count = 0;
    __wasi_size_t size = 0;
    if (__wasi_args_sizes_get(&count, &size) != 0) {
        fatal("cannot read the command line");
    }
    auto** argv = static_cast<char**>(std::calloc(count + 1, sizeof(char*)));
    auto* text = static_cast<std::uint8_t*>(std::malloc(size + 1));
    if (argv == nullptr || text == nullptr ||
        __wasi_args_get(reinterpret_cast<std::uint8_t**>(argv), text) != 0) {
        fatal("cannot read the command line");
    }
    argc = static_cast<int>(count);
    return argv;
}

}  // namespace

// Reads the command line and opens both files as the command line does, then asks for the
// first bytes; a width of 0 finishes at once.
extern "C" __attribute__((export_name("bvex_page_start"))) int bvex_page_start() {
    int argc = 0;
    char** argv = wasi_arguments(argc);
    const Args args = parse_args(argc, argv);
    const InputFiles files = open_inputs(args.original, args.patched);
    run.original = reader_make(files.original, original_buffer, PAGE_BUFFER_BYTES);
    run.patched = reader_make(files.patched, patched_buffer, PAGE_BUFFER_BYTES);
    run.comparison =
        comparison_make(run.original, run.patched, args.line_width, args.block_address);
    run.block_address = args.block_address;
    return step();
}

// The block address the command line gave: the address of the files' first byte, from which
// the page works out each report line's file offset.
extern "C" __attribute__((export_name("bvex_page_block_address"))) std::uint32_t
bvex_page_block_address() {
    return run.block_address;
}

// Bytes of the file (0 original, 1 patched) that may be put at bvex_page_space next.
extern "C" __attribute__((export_name("bvex_page_room"))) std::uint32_t bvex_page_room(int which) {
    return static_cast<std::uint32_t>(reader_room(side(which)));
}

// Where the next bytes of the file go.
extern "C" __attribute__((export_name("bvex_page_space"))) unsigned char* bvex_page_space(
    int which) {
    Reader& r = side(which);
    return r.buffer + r.end;
}

// Takes count bytes put at bvex_page_space and compares what it can.
extern "C" __attribute__((export_name("bvex_page_give"))) int bvex_page_give(int which,
                                                                             std::uint32_t count) {
    reader_give(side(which), count);
    return step();
}

// The file has no more bytes (failed 0), or could not be read further (failed 1): the
// comparison ends, as the command line's ends at a file's end or at a failed read.
extern "C" __attribute__((export_name("bvex_page_end"))) int bvex_page_end(int which, int failed) {
    if (failed != 0) {
        compare_outcome(compare_finish(run.comparison, which == GIVE_ORIGINAL
                                                           ? CompareResult::original_unreadable
                                                           : CompareResult::patched_unreadable));
    }
    side(which).at_end = true;
    return step();
}
