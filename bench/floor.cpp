// The speed floor for the bvex benchmark: reads two files front to back in
// 256 KiB chunks and memcmp's the common part of each pair of chunks, nothing
// more. No report, no blocks: whatever bvex costs above this is its own work.
//
// Where the chunks sit in their pages matters: the kernel copies the page cache into them,
// and that copy's speed depends on the destination's offset from a page (and cache line)
// boundary. So the floor reads into buffers at a chosen offset, and --sweep times a range
// of offsets against each other to find the best one on this machine.
//
// Usage: floor [--offset N] A B     reads into buffers N bytes past a page boundary
//                                   (default 80, as bvex's); exit 0, or 1 on an error
//        floor --sweep ROUNDS A B [OFFSET...]
//                                   reads A and B whole at each offset (default: a range
//                                   from 0 to 4088), the offsets in turns, ROUNDS times;
//                                   prints each offset's time against bvex's offset and
//                                   the best one's, then a last line: best OFFSET

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr size_t CHUNK = 256 * 1024;
constexpr size_t PAGE = 4096;
// The page offset of bvex's read buffers (READ_BUFFER_PAGE_OFFSET in src/frontend/main.cpp).
constexpr size_t DEFAULT_OFFSET = 80;

// Both chunks, back to back as bvex's are, starting anywhere in the block's first page.
alignas(PAGE) unsigned char block[PAGE + 2 * CHUNK];

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

// Reads the files at a and b to the end of the shorter, comparing chunk by chunk, into
// buffers offset bytes into a page. Returns the number of equal chunks, or -1 on an error.
long read_pair(const char* a, const char* b, size_t offset) {
    unsigned char* buf_a = block + offset;
    unsigned char* buf_b = buf_a + CHUNK;
    const int fa = open(a, O_RDONLY);
    const int fb = open(b, O_RDONLY);
    if (fa < 0 || fb < 0) {
        std::perror("open");
        return -1;
    }
    long equal_chunks = 0;
    for (;;) {
        const long na = fill(fa, buf_a);
        const long nb = fill(fb, buf_b);
        if (na < 0 || nb < 0) {
            std::perror("read");
            return -1;
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
    close(fa);
    close(fb);
    return equal_chunks;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

// Wall-clock and CPU (user + system) seconds of this process so far.
void clocks(double& wall, double& cpu) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    wall = static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    cpu = seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return (v[(n - 1) / 2] + v[n / 2]) / 2;
}

// Times read_pair once, returning its CPU (user + system) and wall-clock seconds.
bool timed_read(const char* a, const char* b, size_t offset, double& cpu, double& wall) {
    double w0 = 0, c0 = 0, w1 = 0, c1 = 0;
    clocks(w0, c0);
    const bool ok = read_pair(a, b, offset) >= 0;
    clocks(w1, c1);
    cpu = c1 - c0;
    wall = w1 - w0;
    return ok;
}

// Times read_pair at each offset, each run straight after one at bvex's offset, the
// offsets in turns (each round starting one further along). On a shared machine the
// speed drifts by more than the differences sought, so each offset is judged by its time
// against the run just before it; those ratios' medians rank the offsets. Prints, per
// offset: its median CPU time (user + system, steadier than the wall clock), its ratio to
// bvex's offset (median and quartiles), that ratio against the best offset's, and the
// same ratio from the wall clock.
int sweep(int rounds, const char* a, const char* b, std::vector<size_t> offsets) {
    if (offsets.empty()) {
        offsets = {0,   8,   16,  24,  32,  40,  48,   56,   64,   72,   80,   88,   96,   128,
                   160, 192, 256, 512, 704, 736, 1024, 2048, 2080, 2096, 3072, 4032, 4064, 4088};
    }
    const size_t count = offsets.size();
    std::vector<std::vector<double>> cpu(count), ratio(count), wall_ratio(count);
    double ref_cpu = 0, ref_wall = 0;
    if (!timed_read(a, b, DEFAULT_OFFSET, ref_cpu, ref_wall)) {  // warm-up
        return 1;
    }
    for (int r = 0; r < rounds; r++) {
        for (size_t k = 0; k < count; k++) {
            const size_t i = (k + static_cast<size_t>(r)) % count;
            double c = 0, w = 0;
            if (!timed_read(a, b, DEFAULT_OFFSET, ref_cpu, ref_wall) ||
                !timed_read(a, b, offsets[i], c, w)) {
                return 1;
            }
            cpu[i].push_back(c);
            ratio[i].push_back(c / ref_cpu);
            wall_ratio[i].push_back(w / ref_wall);
        }
    }
    std::vector<double> by(count);
    size_t best = 0;
    for (size_t i = 0; i < count; i++) {
        by[i] = median(ratio[i]);
        best = by[i] < by[best] ? i : best;
    }
    std::printf("%6s  %7s  %7s  %9s  %7s  %7s\n", "offset", "cpu s", "vs bvex", "quartiles",
                "vs best", "wall");
    for (size_t i = 0; i < count; i++) {
        std::vector<double> v = ratio[i];
        std::sort(v.begin(), v.end());
        std::printf("%6zu  %7.4f  %7.3f  %4.2f-%4.2f  %7.3f  %7.3f%s\n", offsets[i], median(cpu[i]),
                    by[i], v[v.size() / 4], v[(v.size() * 3) / 4], by[i] / by[best],
                    median(wall_ratio[i]), offsets[i] == DEFAULT_OFFSET ? "  (bvex's)" : "");
    }
    std::printf("best %zu\n", offsets[best]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "--sweep") == 0) {
        const int rounds = std::atoi(argv[2]);
        std::vector<size_t> offsets;
        for (int i = 5; i < argc; i++) {
            offsets.push_back(std::strtoul(argv[i], nullptr, 10) % PAGE);
        }
        return rounds > 0 ? sweep(rounds, argv[3], argv[4], offsets) : 1;
    }
    size_t offset = DEFAULT_OFFSET;
    if (argc == 5 && std::strcmp(argv[1], "--offset") == 0) {
        offset = static_cast<size_t>(std::strtoul(argv[2], nullptr, 10));
        argv += 2;
        argc -= 2;
    }
    if (argc != 3 || offset >= PAGE) {
        std::fprintf(stderr, "usage: floor [--offset N] A B | floor --sweep ROUNDS A B\n");
        return 1;
    }
    const long equal_chunks = read_pair(argv[1], argv[2], offset);
    if (equal_chunks < 0) {
        return 1;
    }
    // Kept observable so the comparisons cannot be optimised away; not printed normally.
    if (std::getenv("FLOOR_VERBOSE") != nullptr) {
        std::printf("%ld equal chunks\n", equal_chunks);
    }
    return 0;
}
