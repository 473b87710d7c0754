// The block loop on what only POSIX systems have: a terminal whose reads fail, a descriptor
// whose writes fail, /dev/stdin, and signals that interrupt reads and writes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include "compare.h"
#include "output.h"
#include "support.h"

namespace {

// A terminal whose other side has gone: its bytes can be read, then reading fails (see
// terminal_read_fails); -1 where no pseudo-terminal can be had.
int failing_after(const Bytes& bytes) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        return -1;
    }
    const char* name = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    const int slave = name != nullptr ? open(name, O_RDWR | O_NOCTTY) : -1;
    if (slave < 0) {
        close(master);
        return -1;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    EXPECT_EQ(write(slave, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(slave);
    return master;
}

// Why a terminal cannot stand for a file whose reads fail here, or nullptr when it can.
// Linux fails the read with EIO; the BSDs and macOS give end of file instead; a root without
// /dev/pts mounted (a bare chroot or container) has no pseudo-terminals at all.
const char* no_terminal_read_error() {
    const int master = failing_after({});
    if (master < 0) {
        return "no pseudo-terminal can be opened here (is /dev/pts mounted?)";
    }
    fcntl(master, F_SETFL, O_NONBLOCK);  // never wait, whatever the system does
    unsigned char byte = 0;
    const bool fails = read(master, &byte, 1) < 0 && errno == EIO;
    close(master);
    return fails
               ? nullptr
               : "here reading a terminal whose other side has closed does not fail (end of file)";
}

TEST(CompareFiles, ReadFailureStillPrintsWhatWasCompared) {
    if (const char* why = no_terminal_read_error()) {
        GTEST_SKIP() << why;
    }
    // The failing side gives 40 bytes, then fails in the middle of the third block.
    const Bytes original = counting_bytes(48);
    const Bytes patched = counting_bytes(48, {{3, 0xAA}, {30, 0xBB}});
    for (const bool fail_original : {true, false}) {
        const Bytes& source = fail_original ? original : patched;
        const int failing = failing_after(Bytes(source.begin(), source.begin() + 40));
        ASSERT_GE(failing, 0);
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
    if (const char* why = no_terminal_read_error()) {
        GTEST_SKIP() << why;
    }
    const int good = memory_file(counting_bytes(48));
    const int failing = failing_after(counting_bytes(40, {{3, 0xAA}}));
    ASSERT_GE(failing, 0);
    const int full = open("/dev/null", O_RDONLY);  // every write fails
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

TEST(CompareFiles, ProgramReadsOnePipeNamedTwiceBlockByBlockInTurn) {
    // The program itself finds that both names are one pipe, fed here in small pieces: the
    // stream holds each original block followed by the patched block at the same place.
    int p[2];
    const Bytes original = counting_bytes(4096);
    const Bytes patched = counting_bytes(4096, {{5, 0}, {1000, 1}, {1001, 2}, {4095, 3}});
    Bytes piped;
    for (std::ptrdiff_t at = 0; at < 4096; at += 16) {
        piped.insert(piped.end(), original.begin() + at, original.begin() + at + 16);
        piped.insert(piped.end(), patched.begin() + at, patched.begin() + at + 16);
    }
    // /dev/stdin comes with /dev/stdout (on Linux through /proc); the test program's own
    // standard input may be closed, its output is not.
    if (access("/dev/stdout", F_OK) != 0) {
        GTEST_SKIP() << "no /dev/stdin here";
    }
    if (BVEX_IS_WASI) {
        // Node follows the links /dev/stdin -> /proc/self/fd/0 -> "pipe:[N]" itself, as names.
        GTEST_SKIP() << "Node's WASI cannot open /dev/stdin when it is a pipe";
    }
    ASSERT_EQ(pipe(p), 0);
    fcntl(p[1], F_SETFD, FD_CLOEXEC);  // the program sees the end of the feed, not a pipe kept open
    std::thread feed = trickle(p[1], piped, 3);
    const Outcome o = run_bvex({"/dev/stdin", "/dev/stdin"}, "/", Stdout::capture, p[0]);
    feed.join();
    close(p[0]);
    EXPECT_EQ(o.out, report_by_blocks(original, patched, 16, 0));
    EXPECT_EQ(o.status, 0);
}

TEST(CompareFiles, FinishedLinesGoOutBeforeWaitingForInput) {
    // Each pipe gives two blocks, then waits. The first block's line is final once the second
    // has been compared, so it must reach the output before the loop waits to read on: the test
    // reads it first and only then feeds the rest.
    int a[2];
    int b[2];
    int out[2];
    ASSERT_EQ(pipe(a), 0);
    ASSERT_EQ(pipe(b), 0);
    ASSERT_EQ(pipe(out), 0);
    const Bytes original = counting_bytes(48);
    const Bytes patched = counting_bytes(48, {{3, 0xAA}, {40, 0xBB}});
    write_fd(a[1], original.data(), 32);
    write_fd(b[1], patched.data(), 32);
    Reader reader_a = reader_make(a[0], guarded_buffer(0, 4096), 4096);
    Reader reader_b = reader_make(b[0], guarded_buffer(1, 4096), 4096);
    output_redirect(out[1]);
    CompareResult result{};
    std::thread loop([&] { result = compare_files(reader_a, reader_b, 16, 0); });
    std::string first;
    pollfd ready{out[0], POLLIN, 0};
    char byte = 0;
    // The guard only ends a hang: the line is due long before it, however slow the machine.
    while (first.find('\n') == std::string::npos && poll(&ready, 1, 120000) == 1 &&
           read(out[0], &byte, 1) == 1) {
        first += byte;
    }
    write_fd(a[1], original.data() + 32, 16);
    write_fd(b[1], patched.data() + 32, 16);
    for (const int fd : {a[1], b[1]}) {
        close(fd);
    }
    loop.join();
    output_redirect(STDOUT_FILENO);
    close(out[1]);
    std::string rest;
    for (ssize_t n; (n = read(out[0], &byte, 1)) > 0;) {
        rest += byte;
    }
    for (const int fd : {a[0], b[0], out[0]}) {
        close(fd);
    }
    EXPECT_EQ(first, "00000003: 03 AA\n");
    EXPECT_EQ(rest, "00000028: 28 BB\n");
    EXPECT_EQ(result, CompareResult::done);
}

void ignore_signal(int /*unused*/) {}

TEST(CompareFiles, InterruptedReadsAndWritesDoNotChangeTheReport) {
    // Signals with a handler that does not restart calls hit the loop while it waits. In the
    // first run it waits on pipes fed in small pieces, so reads are interrupted; in the second
    // on a small output pipe drained slowly, while width 1 makes each write larger than the
    // pipe, so writes are interrupted and come back short. Both reports outgrow the output
    // buffer.
    const struct {
        std::int32_t width;
        std::size_t largest_piece;  // fed into each input pipe at a time
        useconds_t drain_pause;     // after each 1000 bytes read from the output pipe
        bool small_output_pipe;
    } runs[] = {{7, 600, 0, false}, {1, 60000, 100, true}};
    const Bytes original = counting_bytes(60000);
    const Bytes patched(60000, 0x5A);
    for (const auto& run : runs) {
        const std::string expected = report_by_blocks(original, patched, run.width, 0);
        ASSERT_GT(expected.size(), 256u * 1024);
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
#ifdef F_SETPIPE_SZ  // elsewhere the pipe keeps its size, still smaller than a write
        if (run.small_output_pipe) {
            fcntl(out[1], F_SETPIPE_SZ, 4096);
        }
#endif
        std::thread feed_a = trickle(a[1], original, 4, run.largest_piece);
        std::thread feed_b = trickle(b[1], patched, 5, run.largest_piece);
        std::string report;
        std::thread drain([&] {
            char chunk[1000];
            for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) {
                report.append(chunk, static_cast<std::size_t>(n));
                usleep(run.drain_pause);
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
        const CompareResult result = compare_files(reader_a, reader_b, run.width, 0);
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
        EXPECT_EQ(result, CompareResult::done) << "width " << run.width;
        EXPECT_EQ(report, expected) << "width " << run.width;
    }
}

}  // namespace
