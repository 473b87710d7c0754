// The bvex program where Windows differs: CR LF line ends, wide file names, folders
// that cannot be opened, and a pipe whose reader has gone.

#include <gtest/gtest.h>

#include <random>

#include "support.h"

namespace {

TEST(Cli, LinesEndInCrLf) {
    const struct {
        std::vector<std::string> args;
        std::string out;
        std::string err;
        int status;
    } cases[] = {
        {{"-1", "a", "b"}, "00000003: 03 AA\r\n00000005: 05 BB\r\n", "", 0},
        {{},
         "",
         "Usage:  bvex [-NN] <original file> <patched file> [block address]\r\n\r\n"
         "        -NN  output NN bytes at line (NN>=4)\r\n\r\n\r\n",
         1},
        {{"-x"}, "", "Unknown parameter\r\n\r\n", 1},
        {{"-257", "a", "b"}, "", "line width must be from 0 to 256\r\n", 1},
        {{"missing", "b"}, "", "cannot open original file\r\n", 1},
    };
    for (const auto& c : cases) {
        const Outcome o = run_bvex(c.args, samples());
        EXPECT_EQ(o.out, c.out) << c.args.size() << " arguments";
        EXPECT_EQ(o.err, c.err) << c.args.size() << " arguments";
        EXPECT_EQ(o.status, c.status) << c.args.size() << " arguments";
    }
}

TEST(Cli, LongReportKeepsItsLineEnds) {
    // Far more report than one write: every line still ends in CR LF, nothing else changes.
    std::mt19937 rng(8);
    Bytes original(300000);
    for (auto& byte : original) {
        byte = static_cast<unsigned char>(rng());
    }
    Bytes patched = original;
    for (std::size_t i = 0; i < patched.size(); i += 1 + rng() % 40) {
        patched[i] = static_cast<unsigned char>(patched[i] ^ 0x5A);
    }
    const std::string dir = scratch_dir();
    write_file(dir + "/long_a", original);
    write_file(dir + "/long_b", patched);
    const struct {
        const char* option;
        std::int32_t width;
    } widths[] = {{"-16", 16}, {"-256", 256}};
    for (const auto& w : widths) {
        const Outcome o = run_bvex({w.option, "long_a", "long_b"}, dir);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out, native_lines(report_by_blocks(original, patched, w.width, 0)));
    }
}

TEST(Cli, FileNamesInAnyScript) {
    const std::string dir = scratch_dir();
    const std::vector<std::string> names = {"prüfung-日本.bin", "neu-ß.bin", "𝄞 note.bin",
                                            "Ωμέγα.bin"};
    for (const auto& name : names) {
        write_file(dir + "/" + name, counting_bytes(48, {{3, 0xAA}, {5, 0xBB}}));
    }
    write_file(dir + "/a", counting_bytes(48));
    for (const auto& name : names) {
        const Outcome o = run_bvex({"a", name}, dir);
        EXPECT_EQ(o.out, "00000003: 030405 AA04BB\r\n") << name;
        EXPECT_EQ(o.err, "") << name;
        EXPECT_EQ(o.status, 0) << name;
        const Outcome reversed = run_bvex({name, "a", "10"}, dir);
        EXPECT_EQ(reversed.out, "00000013: AA04BB 030405\r\n") << name;
    }
    const Outcome missing = run_bvex({"a", "neu-ss.bin"}, dir);
    EXPECT_EQ(missing.err, "cannot open patched file\r\n");
}

TEST(Cli, FolderCannotBeOpened) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"dir", "b"}, "cannot open original file\r\n"},
        {{"a", "dir"}, "cannot open patched file\r\n"},
        {{"empty", "dir"}, "cannot open patched file\r\n"},
        {{"dir", "dir"}, "cannot open original file\r\n"},
    };
    for (const auto& c : cases) {
        const Outcome o = run_bvex(c.args, samples());
        EXPECT_EQ(o.out, "") << c.args[0] << " " << c.args[1];
        EXPECT_EQ(o.err, c.err) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(o.status, 1) << c.args[0] << " " << c.args[1];
    }
}

TEST(Cli, ClosedPipeEndsQuietly) {
    const Outcome o = run_bvex({"a", "b"}, samples(), Stdout::broken_pipe);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "");
    const Outcome nothing_to_write = run_bvex({"a", "same"}, samples(), Stdout::broken_pipe);
    EXPECT_EQ(nothing_to_write.status, 0);
    EXPECT_EQ(nothing_to_write.err, "");
}

}  // namespace
