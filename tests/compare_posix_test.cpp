// The block loop on what only POSIX systems have: a terminal whose reads fail and a
// device whose writes fail.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "compare.h"
#include "output.h"
#include "support.h"

namespace {

// The report of the block loop over two descriptors at width 16 with 4 KiB of read-ahead;
// result is set to how the loop ended.
std::string compare_report(int original_fd, int patched_fd, CompareResult& result) {
    std::vector<unsigned char> a(4096);
    std::vector<unsigned char> b(4096);
    Reader original = reader_make(original_fd, a.data(), a.size());
    Reader patched = reader_make(patched_fd, b.data(), b.size());
    return capture_report([&] { result = compare_files(original, patched, 16, 0); });
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
        CompareResult result{};
        const std::string report = fail_original ? compare_report(failing, good, result)
                                                 : compare_report(good, failing, result);
        close(failing);
        close(good);
        EXPECT_EQ(result, fail_original ? CompareResult::original_unreadable
                                        : CompareResult::patched_unreadable);
        EXPECT_EQ(report, "00000003: 03 AA\n0000001E: 1E1F BB1F\n");
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
