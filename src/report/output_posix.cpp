// The POSIX side of writing the report: the bytes as they are, through write().

#include <unistd.h>
#include <cerrno>

#include "output_platform.h"

bool output_write(int fd, const char* text, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, text + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}
