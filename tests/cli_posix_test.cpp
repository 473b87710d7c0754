// The bvex program where POSIX systems differ: a folder opens but cannot be read,
// /proc, /dev/zero and /dev/full, and SIGPIPE.

#include <gtest/gtest.h>

#include <unistd.h>
#include <csignal>

#include "support.h"

namespace {

TEST(Cli, NamesThatAreNotPlainFiles) {
    const struct {
        std::vector<std::string> args;
        std::string out;
        std::string err;
        int status;
    } cases[] = {
        {{"dir", "b"}, "", "cannot read original file\n", 1},
        {{"a", "dir"}, "", "cannot read patched file\n", 1},
        // The patched file is read only once the original has given something.
        {{"empty", "dir"}, "", "", 0},
        {{"/proc/self/mem", "b"}, "", "cannot read original file\n", 1},
        // The end of the patched file ends the comparison, however long the original is.
        {{"/dev/zero", "raw_a"}, "00000000: 00000000000000 610D0A1A620A63\n", "", 0},
    };
    std::string missing;  // system files that this system does not have
    for (const auto& c : cases) {
        if (c.args[0][0] == '/' && access(c.args[0].c_str(), F_OK) != 0) {
            missing += " " + c.args[0];
            continue;
        }
        const Outcome o = run_bvex(c.args, samples());
        EXPECT_EQ(o.out, c.out) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(o.err, c.err) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(o.status, c.status) << c.args[0] << " " << c.args[1];
    }
    if (!missing.empty()) {
        GTEST_SKIP() << "cases left out, not on this system:" << missing;
    }
}

TEST(Cli, FullDeviceIsAnError) {
    // Without /dev/full, output open for reading only fails every write as well.
    const Stdout full = access("/dev/full", W_OK) == 0 ? Stdout::dev_full : Stdout::read_only;
    const Outcome failed = run_bvex({"a", "b"}, samples(), full);
    EXPECT_EQ(failed.err, "cannot write output\n");
    EXPECT_EQ(failed.status, 1);
    const Outcome nothing_to_write = run_bvex({"a", "same"}, samples(), full);
    EXPECT_EQ(nothing_to_write.err, "");
    EXPECT_EQ(nothing_to_write.status, 0);
    // Endless input: the first failed write must end the run.
    const Outcome endless = run_bvex({"/dev/zero", "/dev/urandom"}, samples(), full);
    EXPECT_EQ(endless.err, "cannot write output\n");
    EXPECT_EQ(endless.status, 1);
}

TEST(Cli, ClosedPipeEndsQuietly) {
    const struct {
        Stdout mode;
        int status;
        int signal;
    } cases[] = {
        // SIGPIPE ends bvex; WASI has no signals, and its failed write ends bvex with status 1.
        {Stdout::broken_pipe, BVEX_IS_WASI ? 1 : -1, BVEX_IS_WASI ? 0 : SIGPIPE},
        // Started with SIGPIPE ignored, the failed write ends bvex as under WASI.
        {Stdout::broken_pipe_sigpipe_ignored, 1, 0},
    };
    for (const auto& c : cases) {
        const Outcome o = run_bvex({"a", "b"}, samples(), c.mode);
        const int mode = static_cast<int>(c.mode);
        EXPECT_EQ(o.status, c.status) << "output mode " << mode;
        EXPECT_EQ(o.signal, c.signal) << "output mode " << mode;
        EXPECT_EQ(o.err, "") << "output mode " << mode;
    }
}

}  // namespace
