#include "output.h"

#include <unistd.h>
#include <cerrno>

namespace {

// Large enough that writes cost little per line, small enough to stay in cache.
constexpr std::size_t OUTPUT_BUFFER_BYTES = std::size_t{64} * 1024;

struct Output {
    int fd;
    bool failed;
    std::size_t used;
    char buffer[OUTPUT_BUFFER_BYTES];
};

Output out = {STDOUT_FILENO, false, 0, {}};

// Writes out the buffer; on the first failure remembers it and drops the text.
void write_out() {
    std::size_t done = 0;
    while (!out.failed && done < out.used) {
        const ssize_t n = write(out.fd, out.buffer + done, out.used - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            out.failed = true;
        }
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
    return out.buffer + out.used;
}

void output_commit(std::size_t n) { out.used += n; }

bool output_flush() {
    write_out();
    return !out.failed;
}

bool output_failed() { return out.failed; }
