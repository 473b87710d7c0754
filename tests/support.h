#pragma once
// Helpers shared by the tests: capturing the report, running the bvex program,
// and scratch files. support_shared.cpp holds what is the same everywhere;
// support_posix.cpp or support_windows.cpp (chosen by the build) the rest.

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "compare.h"

using Bytes = std::vector<unsigned char>;

// Runs body with the report sent to a scratch file; returns the text written there, with
// '\n' line ends (on Windows each must have been written as CR LF, or the test fails).
std::string capture_report(const std::function<void()>& body);

// The report obtained by handing report_block every block of the common length in turn.
std::string report_by_blocks(const Bytes& original, const Bytes& patched, std::int32_t width,
                             std::uint32_t address);

// length bytes, each equal to its offset (modulo 256), with the given offsets set to the given
// values.
Bytes counting_bytes(std::size_t length,
                     const std::vector<std::pair<std::size_t, unsigned char>>& changes = {});

// text with every '\n' as the platform's line end: unchanged on POSIX, CR LF on Windows.
std::string native_lines(const std::string& text);

// A fresh scratch folder (its name in UTF-8 on Windows) that lasts for the test program's run.
std::string scratch_dir();

// Writes bytes to path, replacing the file.
void write_file(const std::string& path, const Bytes& bytes);

// Writes a file of size bytes, zero but for value at offset at, sparse where the file system
// allows it, so that a file past 4 GiB costs neither time nor disk space.
void write_sparse_file(const std::string& path, std::uint64_t size, std::uint64_t at,
                       unsigned char value);

// Creates the folder path.
void make_dir(const std::string& path);

// A folder of sample files: a (48 counting bytes), b (a changed at 3 and 5), same (equal
// to a), empty, dir (a folder), -b (equal to b), raw_a and raw_b (bytes that a text read
// would change: CR LF, Ctrl-Z; they differ in their last byte), and huge_a and huge_b
// (sparse, 32 bytes past 4 GiB, zero but for their one difference, 0x13 bytes past 4 GiB).
const std::string& samples();

// A descriptor open for reading on a scratch file that holds bytes, at its start.
int memory_file(const Bytes& bytes);

// Makes a pipe: fds[0] reads what is written to fds[1].
void make_pipe(int fds[2]);

// Writes all size bytes to fd, or fails the test.
void write_fd(int fd, const unsigned char* bytes, std::size_t size);

// Closes fd.
void close_fd(int fd);

// Writes bytes into fd (a pipe) in pieces of 1 to largest bytes, pausing a little between
// them, then closes it; the pieces depend on seed.
std::thread trickle(int fd, Bytes bytes, unsigned seed, std::size_t largest = 23);

// What the block loop printed over two descriptors, and how it ended.
struct Compared {
    std::string report;
    CompareResult result;
};

// Runs the block loop over two descriptors, each read through a guarded buffer of the given
// capacity (at most 256 KiB), in lock-step when asked.
Compared compare_fds(int original_fd, int patched_fd, std::int32_t width, std::uint32_t address,
                     std::size_t capacity, bool lockstep = false);

// Read-ahead buffer 0 or 1 (at most 256 KiB) of capacity bytes, right before memory that
// cannot be touched, so that reading or writing past its end stops the test at once.
unsigned char* guarded_buffer(std::size_t which, std::size_t capacity);

// True when the bvex program that run_bvex starts is a wasi build's bvex.wasm, run under Node
// by tools/wasi-run.mjs (the build defines BVEX_WASI).
inline constexpr bool BVEX_IS_WASI = BVEX_WASI != 0;

// Where the program's standard output goes in run_bvex.
enum class Stdout {
    capture,
    dev_full,                     // POSIX only: a device whose every write fails
    closed,                       // no standard output at all
    broken_pipe,                  // a pipe whose reader has closed its end
    broken_pipe_sigpipe_ignored,  // POSIX only: the same, started with SIGPIPE ignored
    read_only,                    // a file opened for reading only
};

struct Outcome {
    std::string out;
    std::string err;
    int status;  // exit status, or -1 when ended by a signal
    int signal;  // the ending signal, or 0 (always 0 on Windows)
};

// Runs the bvex program with args (UTF-8 on Windows) in folder dir and collects what it
// did; its standard input is stdin_fd when given. A run that hangs is ended after a
// generous time.
Outcome run_bvex(const std::vector<std::string>& args, const std::string& dir,
                 Stdout mode = Stdout::capture, int stdin_fd = -1);
