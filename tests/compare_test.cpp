// The block loop over real descriptors: read-ahead, bulk skipping of equal
// stretches, short reads and read failures must not change the report.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <random>
#include <thread>

#include "compare.h"
#include "output.h"
#include "report.h"
#include "support.h"

namespace {

int memory_file(const Bytes& bytes) {
    const int fd = memfd_create("bvex-input", 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    lseek(fd, 0, SEEK_SET);
    return fd;
}

struct Compared {
    std::string report;
    CompareResult result;
};

// Read-ahead buffer 0 or 1, of capacity bytes (at most 256 KiB), right before a page that
// cannot be touched, so that reading past the buffer stops the test at once.
unsigned char* guarded_buffer(std::size_t which, std::size_t capacity) {
    static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    static const std::size_t span = 256 * 1024 + page;
    static auto* const base = static_cast<unsigned char*>(
        mmap(nullptr, 2 * span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    static const bool guarded = mprotect(base + span - page, page, PROT_NONE) == 0 &&
                                mprotect(base + 2 * span - page, page, PROT_NONE) == 0;
    EXPECT_TRUE(guarded);
    return base + (which + 1) * span - page - capacity;
}

// Runs the block loop over two descriptors, each read through a buffer of the given capacity.
Compared compare_fds(int original_fd, int patched_fd, std::int32_t width, std::uint32_t address,
                     std::size_t capacity, bool lockstep = false) {
    Reader original = reader_make(original_fd, guarded_buffer(0, capacity), capacity);
    Reader patched = reader_make(patched_fd, guarded_buffer(1, capacity), capacity);
    original.lockstep = patched.lockstep = lockstep;
    CompareResult result{};
    const std::string report =
        capture_report([&] { result = compare_files(original, patched, width, address); });
    return {report, result};
}

// A random pair of at most size bytes, often of unequal length, with differences of the given
// kind: 0 sparse, 1 dense, 2 at block edges, 3 rare.
void random_pair(std::mt19937& rng, std::int32_t width, std::size_t size, std::size_t kind,
                 Bytes& original, Bytes& patched) {
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n)(rng);
    };
    original.resize(pick(size));
    for (auto& byte : original) {
        byte = static_cast<unsigned char>(pick(255));
    }
    patched = original;
    patched.resize(pick(3) == 0 ? pick(size) : original.size(), 0x5A);
    for (std::size_t i = 0; i < patched.size(); ++i) {
        const auto w = static_cast<std::size_t>(width);
        const std::size_t edge = i % w;
        const bool change = kind == 0   ? pick(200) == 0
                            : kind == 1 ? pick(1) == 0
                            : kind == 2 ? (edge < 2 || edge + 3 > w) && pick(20) == 0
                                        : pick(20000) == 0;
        if (change) {
            patched[i] = static_cast<unsigned char>(patched[i] ^ (1 + pick(254)));
        }
    }
}

TEST(CompareFiles, BulkPathMatchesBlockByBlock) {
    std::mt19937 rng(20261207);
    const std::int32_t widths[] = {1, 2, 3, 4, 5, 7, 8, 13, 16, 17, 31, 32, 64, 100, 255, 256};
    const std::size_t capacities[] = {256, 257, 1000, 4096, 256 * 1024};
    // Rounds 3 and 4: large files whose reports fill many output buffers, and whose equal
    // runs span several stretches.
    for (int round = 0; round < 5; ++round) {
        for (const std::int32_t width : widths) {
            for (const std::size_t capacity : capacities) {
                Bytes original;
                Bytes patched;
                const std::size_t kind = round < 3 ? rng() % 4 : round == 3 ? 1 : 3;
                random_pair(rng, width, round < 3 ? 4000 : 100000, kind, original, patched);
                const auto address = static_cast<std::uint32_t>(rng());
                const int a = memory_file(original);
                const int b = memory_file(patched);
                const Compared got = compare_fds(a, b, width, address, capacity);
                close(a);
                close(b);
                ASSERT_EQ(got.result, CompareResult::done);
                ASSERT_EQ(got.report, report_by_blocks(original, patched, width, address))
                    << "width " << width << ", capacity " << capacity << ", lengths "
                    << original.size() << "/" << patched.size();
            }
        }
    }
}

// Writes bytes into a pipe in pieces of at most largest bytes, pausing between them, then
// closes it.
std::thread trickle(int fd, Bytes bytes, unsigned seed, std::size_t largest = 23) {
    return std::thread([fd, bytes = std::move(bytes), seed, largest] {
        std::mt19937 rng(seed);
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % largest, bytes.size() - at);
            EXPECT_EQ(write(fd, bytes.data() + at, n), static_cast<ssize_t>(n));
            at += n;
            usleep(static_cast<useconds_t>(rng() % 200));
        }
        close(fd);
    });
}

TEST(CompareFiles, PipesFedInSmallPiecesReportAsFilesDo) {
    const Bytes original = counting_bytes(3000);
    Bytes patched = counting_bytes(3000, {{17, 0}, {20, 1}, {999, 2}, {1000, 3}, {2999, 4}});
    // Each pipe is longer than the smaller read-ahead buffers.
    const std::pair<std::int32_t, std::size_t> runs[] = {{5, 300}, {16, 256 * 1024}, {256, 257}};
    for (const auto& [width, capacity] : runs) {
        int a[2];
        int b[2];
        ASSERT_EQ(pipe(a), 0);
        ASSERT_EQ(pipe(b), 0);
        std::thread feed_a = trickle(a[1], original, 1);
        std::thread feed_b = trickle(b[1], patched, 2);
        const Compared got = compare_fds(a[0], b[0], width, 0, capacity);
        feed_a.join();
        feed_b.join();
        close(a[0]);
        close(b[0]);
        EXPECT_EQ(got.result, CompareResult::done);
        EXPECT_EQ(got.report, report_by_blocks(original, patched, width, 0))
            << "width " << width << ", capacity " << capacity;
    }
}

TEST(CompareFiles, OneStreamNamedTwiceIsReadBlockByBlockInTurn) {
    // Blocks alternate between the two readers: 0-15 against 16-31, 32-47 against 48-63.
    Bytes stream = counting_bytes(64);
    for (std::size_t i = 16; i < 32; ++i) {
        stream[i] = stream[i - 16];
    }
    stream[16 + 9] = 0xAA;
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(write(p[1], stream.data(), stream.size()), 64);
    close(p[1]);
    EXPECT_TRUE(same_stream(p[0], p[0]));
    const Compared got = compare_fds(p[0], p[0], 16, 0, 256 * 1024, true);
    close(p[0]);
    EXPECT_EQ(got.report,
              "00000009: 09 AA\n"
              "00000010: 202122232425262728292A2B2C2D2E2F 303132333435363738393A3B3C3D3E3F\n");

    // The program itself finds that both names are one pipe, fed here in small pieces.
    const Bytes original = counting_bytes(4096);
    const Bytes patched = counting_bytes(4096, {{5, 0}, {1000, 1}, {1001, 2}, {4095, 3}});
    Bytes piped;
    for (std::ptrdiff_t at = 0; at < 4096; at += 16) {
        piped.insert(piped.end(), original.begin() + at, original.begin() + at + 16);
        piped.insert(piped.end(), patched.begin() + at, patched.begin() + at + 16);
    }
    ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
    std::thread feed = trickle(p[1], piped, 3);
    const Outcome o = run_bvex({"/dev/stdin", "/dev/stdin"}, "/", Stdout::capture, p[0]);
    feed.join();
    close(p[0]);
    EXPECT_EQ(o.out, report_by_blocks(original, patched, 16, 0));
    EXPECT_EQ(o.status, 0);
}

void ignore_signal(int /*unused*/) {}

TEST(CompareFiles, InterruptedReadsAndWritesDoNotChangeTheReport) {
    // Signals with a handler that does not restart calls hit the loop while it waits on
    // pipes fed in pieces and on a small output pipe drained slowly: reads and writes are
    // interrupted, writes come back short, and the report outgrows the output buffer.
    const Bytes original = counting_bytes(60000);
    const Bytes patched(60000, 0x5A);
    const std::string expected = report_by_blocks(original, patched, 7, 0);
    ASSERT_GT(expected.size(), 65536u);
    struct sigaction handler {};
    struct sigaction previous {};
    handler.sa_handler = ignore_signal;
    sigaction(SIGUSR1, &handler, &previous);
    int a[2];
    int b[2];
    int out[2];
    ASSERT_EQ(pipe(a), 0);
    ASSERT_EQ(pipe(b), 0);
    ASSERT_EQ(pipe(out), 0);
    fcntl(out[1], F_SETPIPE_SZ, 4096);
    std::thread feed_a = trickle(a[1], original, 4, 600);
    std::thread feed_b = trickle(b[1], patched, 5, 600);
    std::string report;
    std::thread drain([&] {
        char chunk[1000];
        for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) {
            report.append(chunk, static_cast<std::size_t>(n));
            usleep(100);
        }
    });
    std::atomic<bool> done{false};
    std::thread pester([&, target = pthread_self()] {
        while (!done) {
            pthread_kill(target, SIGUSR1);
            usleep(20);
        }
    });
    Reader reader_a = reader_make(a[0], guarded_buffer(0, 1000), 1000);
    Reader reader_b = reader_make(b[0], guarded_buffer(1, 1000), 1000);
    output_redirect(out[1]);
    const CompareResult result = compare_files(reader_a, reader_b, 7, 0);
    done = true;
    pester.join();
    sigaction(SIGUSR1, &previous, nullptr);
    output_redirect(STDOUT_FILENO);
    close(out[1]);
    for (const int fd : {a[0], b[0]}) {  // what a loop that stopped early left, so feeds end
        while (read(fd, guarded_buffer(0, 1000), 1000) > 0) {
        }
        close(fd);
    }
    for (std::thread* t : {&feed_a, &feed_b, &drain}) {
        t->join();
    }
    close(out[0]);
    EXPECT_EQ(result, CompareResult::done);
    EXPECT_EQ(report, expected);
}

TEST(CompareFiles, TwoOpensOfOneFileAreSeparateStreams) {
    const int a = open("/proc/self/exe", O_RDONLY);
    const int b = open("/proc/self/exe", O_RDONLY);
    EXPECT_FALSE(same_stream(a, b));
    close(a);
    close(b);
}

// A terminal whose other side has gone: its bytes can be read, then reading fails.
int failing_after(const Bytes& bytes) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    EXPECT_EQ(write(slave, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(slave);
    return master;
}

TEST(CompareFiles, ReadFailureStillPrintsWhatWasCompared) {
    // The failing side gives 40 bytes, then fails in the middle of the third block.
    const Bytes original = counting_bytes(48);
    const Bytes patched = counting_bytes(48, {{3, 0xAA}, {30, 0xBB}});
    for (const bool fail_original : {true, false}) {
        const Bytes& source = fail_original ? original : patched;
        const int failing = failing_after(Bytes(source.begin(), source.begin() + 40));
        const int good = memory_file(fail_original ? patched : original);
        const Compared got = fail_original ? compare_fds(failing, good, 16, 0, 4096)
                                           : compare_fds(good, failing, 16, 0, 4096);
        close(failing);
        close(good);
        EXPECT_EQ(got.result, fail_original ? CompareResult::original_unreadable
                                            : CompareResult::patched_unreadable);
        EXPECT_EQ(got.report, "00000003: 03 AA\n0000001E: 1E1F BB1F\n");
    }
}

TEST(CompareFiles, UnwritableReportOutranksAReadFailure) {
    const int good = memory_file(counting_bytes(48));
    const int failing = failing_after(counting_bytes(40, {{3, 0xAA}}));
    const int full = open("/dev/full", O_WRONLY);
    std::vector<unsigned char> a(4096);
    std::vector<unsigned char> b(4096);
    Reader original = reader_make(good, a.data(), a.size());
    Reader patched = reader_make(failing, b.data(), b.size());
    output_redirect(full);
    const CompareResult result = compare_files(original, patched, 16, 0);
    output_redirect(STDOUT_FILENO);
    close(full);
    close(failing);
    close(good);
    EXPECT_EQ(result, CompareResult::output_failed);
}

}  // namespace
