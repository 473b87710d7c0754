#include "output.h"

#include "output_platform.h"

namespace {

// A dense report goes out in writes this large: each write() to a file system costs far more
// than copying the text, and larger buffers than this gained nothing more when measured.
constexpr std::size_t OUTPUT_BUFFER_BYTES = std::size_t{256} * 1024;

struct Output {
    int fd;
    bool failed;
    std::size_t used;
};

// Standard output's descriptor, on every platform.
constexpr int STANDARD_OUTPUT = 1;

Output out = {STANDARD_OUTPUT, false, 0};

// Apart from the rest, so that it takes no room in the program file and no memory until
// a report is written.
char buffer[OUTPUT_BUFFER_BYTES];

// Writes out the buffer; on the first failure remembers it and drops the text.
void write_out() {
    if (!out.failed && out.used > 0 && !output_write(out.fd, buffer, out.used)) {
        out.failed = true;
    }
    out.used = 0;
}

}  // namespace

void output_redirect(int fd) {
    out.fd = fd;
    out.failed = false;
}

char* output_space(std::size_t n) {
    if (OUTPUT_BUFFER_BYTES - out.used < n) {
        write_out();
    }
    return buffer + out.used;
}

void output_commit(std::size_t n) { out.used += n; }

bool output_flush() {
    write_out();
    return !out.failed;
}

bool output_failed() { return out.failed; }
