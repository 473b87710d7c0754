// The POSIX side of the platform seam: descriptors straight from the system calls.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "platform.h"

// Files past 2 GiB open and read on 32-bit systems only with 64-bit file offsets, which the
// build asks for with _FILE_OFFSET_BITS=64; a build without them must not compile.
static_assert(sizeof(off_t) >= 8, "bvex needs 64-bit file offsets (_FILE_OFFSET_BITS=64)");

// An empty name names no file. The system says so itself; wasi-libc would open the current
// folder instead, and bvex.wasm fail later, with "cannot read".
int input_open(const char* name) {
    if (*name == '\0') {
        errno = ENOENT;
        return -1;
    }
    return open(name, O_RDONLY | O_NOCTTY | O_CLOEXEC);
}

long input_read(int fd, unsigned char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = read(fd, buffer, size);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

void input_close(int fd) { close(fd); }

bool same_stream(int fd_a, int fd_b) {
    struct stat a {};
    struct stat b {};
    if (fstat(fd_a, &a) != 0 || fstat(fd_b, &b) != 0) {
        return false;
    }
    // Two opens of one file or disk each keep their own position; a pipe, socket or
    // terminal hands each byte to one reader only.
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && !S_ISREG(a.st_mode) &&
           !S_ISBLK(a.st_mode);
}
