#include "output.h"

#include "output_platform.h"

namespace {

// Large enough that writes cost little per line, small enough to stay in cache.
constexpr std::size_t OUTPUT_BUFFER_BYTES = std::size_t{64} * 1024;

struct Output {
    int fd;
    bool failed;
    std::size_t used;
};

// Standard output's descriptor, on every platform.
constexpr int STANDARD_OUTPUT = 1;

Output out = {STANDARD_OUTPUT, false, 0};

// Kept apart from out, which starts non-zero, so that the program file holds no 64 KiB of
// zeros for it.
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
