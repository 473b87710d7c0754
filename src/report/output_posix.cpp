// The POSIX side of writing the report: the bytes as they are, through write().

#include <unistd.h>
#include <cerrno>
#include <cstdlib>

#include "output_platform.h"

bool output_write(int fd, const char* text, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, text + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EPIPE) {
            // The reader has gone, so nobody needs a message. SIGPIPE, in its default action,
            // ends bvex before this; here it is ignored, or there is none (WASI).
            std::_Exit(1);
        } else {
            return false;
        }
    }
    return true;
}
