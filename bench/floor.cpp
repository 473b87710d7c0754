// The speed floor for the bvex benchmark: reads two files front to back in
// 256 KiB chunks and memcmp's the common part of each pair of chunks, nothing
// more. No report, no blocks: whatever bvex costs above this is its own work.
//
// Usage: floor A B    (exit 0 after the end of either file, 1 on an error)

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t CHUNK = 256 * 1024;
unsigned char buf_a[CHUNK];
unsigned char buf_b[CHUNK];

// Reads until the chunk is full or the file ends; -1 on an error.
long fill(int fd, unsigned char* buf) {
    size_t got = 0;
    while (got < CHUNK) {
        const ssize_t n = read(fd, buf + got, CHUNK - got);
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return static_cast<long>(got);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: floor A B\n");
        return 1;
    }
    const int fa = open(argv[1], O_RDONLY);
    const int fb = open(argv[2], O_RDONLY);
    if (fa < 0 || fb < 0) {
        std::perror("open");
        return 1;
    }
    unsigned long equal_chunks = 0;
    for (;;) {
        const long na = fill(fa, buf_a);
        const long nb = fill(fb, buf_b);
        if (na < 0 || nb < 0) {
            std::perror("read");
            return 1;
        }
        const long n = na < nb ? na : nb;
        if (n == 0) {
            break;
        }
        equal_chunks += std::memcmp(buf_a, buf_b, static_cast<size_t>(n)) == 0;
        if (n < static_cast<long>(CHUNK)) {
            break;
        }
    }
    // Kept observable so the comparisons cannot be optimised away; not printed normally.
    if (std::getenv("FLOOR_VERBOSE") != nullptr) {
        std::printf("%lu equal chunks\n", equal_chunks);
    }
    return 0;
}
