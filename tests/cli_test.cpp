// The bvex program as scripts see it: standard output, standard error and exit status.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include "support.h"

namespace {

const std::string USAGE =
    "Usage:  bvex [-NN] <original file> <patched file> [block address]\n\n"
    "        -NN  output NN bytes at line (NN>=4)\n\n\n";
const std::string LINE = "00000003: 030405 AA04BB\n";

// A folder of sample files: a (48 counting bytes), b (a changed at 3 and 5),
// same (equal to a), empty, dir (a folder) and -b (equal to b).
const std::string& samples() {
    static const std::string dir = [] {
        const std::string d = scratch_dir();
        write_file(d + "/a", counting_bytes(48));
        write_file(d + "/b", counting_bytes(48, {{3, 0xAA}, {5, 0xBB}}));
        write_file(d + "/same", counting_bytes(48));
        write_file(d + "/empty", {});
        write_file(d + "/-b", counting_bytes(48, {{3, 0xAA}, {5, 0xBB}}));
        mkdir((d + "/dir").c_str(), 0755);
        return d;
    }();
    return dir;
}

struct CliCase {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

TEST(Cli, CommandLines) {
    const CliCase cases[] = {
        {{}, "", USAGE, 1},
        {{"a"}, "", USAGE, 1},
        {{"-x"}, "", "Unknown parameter\n\n", 1},
        {{"-x", "a", "b"}, "", "Unknown parameter\n\n", 1},
        {{"-", "a", "b"}, "", "Unknown parameter\n\n", 1},
        {{"-8", "-q", "a", "b"}, "", "Unknown parameter\n\n", 1},
        {{"a", "b"}, LINE, "", 0},
        {{"-v", "a", "b"}, LINE, "", 0},
        {{"-V", "a", "b"}, LINE, "", 0},
        {{"-Version", "-8", "a", "b"}, LINE, "", 0},
        {{"-4", "-1", "a", "b"}, "00000003: 03 AA\n00000005: 05 BB\n", "", 0},
        {{"-1", "a", "b"}, "00000003: 03 AA\n00000005: 05 BB\n", "", 0},
        {{"-1", "-4", "a", "b"}, "00000003: 03 AA\n00000004: 0405 04BB\n", "", 0},
        {{"-4x", "a", "b"}, "00000003: 03 AA\n00000004: 0405 04BB\n", "", 0},
        {{"-0", "a", "b"}, "", "", 0},
        {{"-256", "a", "b"}, LINE, "", 0},
        {{"-257", "a", "b"}, "", "line width must be from 0 to 256\n", 1},
        {{"-2147483648", "a", "b"}, "", "line width must be from 0 to 256\n", 1},
        {{"-4294967312", "a", "b"}, LINE, "", 0},
        {{"-257", "a"}, "", USAGE, 1},
        {{"-257", "missing", "b"}, "", "line width must be from 0 to 256\n", 1},
        {{"a", "b", "1000"}, "00001003: 030405 AA04BB\n", "", 0},
        {{"a", "b", "0x1000"}, "00001003: 030405 AA04BB\n", "", 0},
        {{"a", "b", "0X1000", "extra", "more"}, "00001003: 030405 AA04BB\n", "", 0},
        {{"a", "b", "xyz"}, LINE, "", 0},
        {{"a", "b", "100000000"}, "00000002: 030405 AA04BB\n", "", 0},
        {{"a", "b", "-10"}, "FFFFFFF3: 030405 AA04BB\n", "", 0},
        {{"a", "-b"}, LINE, "", 0},
        {{"-b", "a", "b"}, "", "Unknown parameter\n\n", 1},
        {{"a", "same"}, "", "", 0},
        {{"a", "a"}, "", "", 0},
        {{"missing", "also-missing"}, "", "cannot open original file\n", 1},
        {{"missing", "b"}, "", "cannot open original file\n", 1},
        {{"a", "missing"}, "", "cannot open patched file\n", 1},
        {{"empty", "b"}, "", "", 0},
        {{"empty", "dir"}, "", "", 0},
        {{"a", "empty"}, "", "", 0},
        {{"dir", "b"}, "", "cannot read original file\n", 1},
        {{"a", "dir"}, "", "cannot read patched file\n", 1},
        {{"/proc/self/mem", "b"}, "", "cannot read original file\n", 1},
    };
    for (const CliCase& c : cases) {
        std::string shown;
        for (const auto& a : c.args) {
            shown += " " + a;
        }
        const Outcome o = run_bvex(c.args, samples());
        EXPECT_EQ(o.out, c.out) << "bvex" << shown;
        EXPECT_EQ(o.err, c.err) << "bvex" << shown;
        EXPECT_EQ(o.status, c.status) << "bvex" << shown;
    }
}

TEST(Cli, UnwritableOutputIsAnError) {
    const struct {
        Stdout mode;
        std::vector<std::string> args;
        std::string err;
        int status;
    } cases[] = {
        {Stdout::dev_full, {"a", "b"}, "cannot write output\n", 1},
        {Stdout::closed, {"a", "b"}, "cannot write output\n", 1},
        {Stdout::dev_full, {"a", "same"}, "", 0},
        {Stdout::closed, {"a", "same"}, "", 0},
        // Endless input: the first failed write must end the run.
        {Stdout::dev_full, {"/dev/zero", "/dev/urandom"}, "cannot write output\n", 1},
    };
    for (const auto& c : cases) {
        const Outcome o = run_bvex(c.args, samples(), c.mode);
        EXPECT_EQ(o.err, c.err) << c.args[1];
        EXPECT_EQ(o.status, c.status) << c.args[1];
    }
}

TEST(Cli, ClosedPipeEndsQuietly) {
    const Outcome o = run_bvex({"a", "b"}, samples(), Stdout::broken_pipe);
    EXPECT_EQ(o.signal, SIGPIPE);
    EXPECT_EQ(o.err, "");
}

}  // namespace
