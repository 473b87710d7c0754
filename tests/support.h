#pragma once
// Helpers shared by the tests: capturing the report, running the bvex program,
// and scratch files.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Runs body with the report sent to a scratch file; returns the text written there.
std::string capture_report(const std::function<void()>& body);

// The report obtained by handing report_block every block of the common length in turn.
std::string report_by_blocks(const Bytes& original, const Bytes& patched, std::int32_t width,
                             std::uint32_t address);

// length bytes, each equal to its offset (modulo 256), with the given offsets set to the given
// values.
Bytes counting_bytes(std::size_t length,
                     const std::vector<std::pair<std::size_t, unsigned char>>& changes = {});

// A fresh scratch folder that lasts for the test program's run.
std::string scratch_dir();

// Writes bytes to path, replacing the file.
void write_file(const std::string& path, const Bytes& bytes);

// Where the program's standard output goes in run_bvex.
enum class Stdout { capture, dev_full, closed, broken_pipe };

struct Outcome {
    std::string out;
    std::string err;
    int status;  // exit status, or -1 when ended by a signal
    int signal;  // the ending signal, or 0
};

// Runs the bvex program with args in folder dir and collects what it did; its standard
// input is stdin_fd when given. A run that hangs is ended by SIGALRM after a generous time.
Outcome run_bvex(const std::vector<std::string>& args, const std::string& dir,
                 Stdout mode = Stdout::capture, int stdin_fd = -1);
