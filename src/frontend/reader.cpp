#include "reader.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

Reader reader_make(int fd, unsigned char* buffer, std::size_t capacity) {
    return Reader{fd, buffer, capacity, 0, 0, false};
}

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

long reader_fill(Reader& r, std::size_t want) {
    while (reader_available(r) < want) {
        const std::size_t available = reader_available(r);
        // Move what is left to the front when the block would not fit, or for free when nothing is.
        if (available == 0 || r.capacity - r.end < want - available) {
            std::memmove(r.buffer, r.buffer + r.start, available);
            r.start = 0;
            r.end = available;
        }
        const std::size_t ask = r.lockstep ? want - available : r.capacity - r.end;
        const ssize_t got = read(r.fd, r.buffer + r.end, ask);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            return static_cast<long>(available);
        }
        r.end += static_cast<std::size_t>(got);
    }
    return static_cast<long>(want);
}
