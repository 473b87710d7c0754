// The block loop over real descriptors: read-ahead, bulk skipping of equal
// stretches, short reads and read failures must not change the report.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>

#include "compare.h"
#include "platform.h"
#include "report.h"
#include "support.h"

namespace {

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

// The report of the comparison when both files' bytes are handed to it in pieces of 1 to
// largest bytes, each file only when the comparison asks for it, as the web page does.
std::string compare_handed(const Bytes& original, const Bytes& patched, std::int32_t width,
                           std::uint32_t address, std::size_t capacity, std::size_t largest,
                           std::mt19937& rng) {
    Reader readers[] = {reader_make(-1, guarded_buffer(0, capacity), capacity),
                        reader_make(-1, guarded_buffer(1, capacity), capacity)};
    const Bytes* files[] = {&original, &patched};
    std::size_t given[] = {0, 0};
    return capture_report([&] {
        Comparison c = comparison_make(readers[0], readers[1], width, address);
        for (Need need = compare_buffered(c); need != Need::nothing; need = compare_buffered(c)) {
            const std::size_t side = need == Need::original ? 0 : 1;
            Reader& r = readers[side];
            const Bytes& file = *files[side];
            if (given[side] == file.size()) {
                r.at_end = true;
                continue;
            }
            const std::size_t room = reader_room(r);
            ASSERT_GT(room, 0u);
            const std::size_t n = std::min({room, file.size() - given[side], 1 + rng() % largest});
            std::copy_n(file.data() + given[side], n, r.buffer + r.end);
            reader_give(r, n);
            given[side] += n;
        }
        EXPECT_EQ(compare_finish(c, CompareResult::done), CompareResult::done);
    });
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
                close_fd(a);
                close_fd(b);
                ASSERT_EQ(got.result, CompareResult::done);
                const std::string expected = report_by_blocks(original, patched, width, address);
                ASSERT_EQ(got.report, expected)
                    << "width " << width << ", capacity " << capacity << ", lengths "
                    << original.size() << "/" << patched.size();
                // The same bytes handed over in pieces, small and large, as the page does.
                ASSERT_EQ(compare_handed(original, patched, width, address, capacity,
                                         round % 2 == 0 ? 7 : capacity, rng),
                          expected)
                    << "handed in pieces: width " << width << ", capacity " << capacity;
            }
        }
    }
}

TEST(CompareFiles, PipesFedInSmallPiecesReportAsFilesDo) {
    const Bytes original = counting_bytes(3000);
    Bytes patched = counting_bytes(3000, {{17, 0}, {20, 1}, {999, 2}, {1000, 3}, {2999, 4}});
    // Each pipe is longer than the smaller read-ahead buffers.
    const std::pair<std::int32_t, std::size_t> runs[] = {{5, 300}, {16, 256 * 1024}, {256, 257}};
    for (const auto& [width, capacity] : runs) {
        int a[2];
        int b[2];
        make_pipe(a);
        make_pipe(b);
        std::thread feed_a = trickle(a[1], original, 1);
        std::thread feed_b = trickle(b[1], patched, 2);
        const Compared got = compare_fds(a[0], b[0], width, 0, capacity);
        feed_a.join();
        feed_b.join();
        close_fd(a[0]);
        close_fd(b[0]);
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
    make_pipe(p);
    write_fd(p[1], stream.data(), stream.size());
    close_fd(p[1]);
    EXPECT_TRUE(same_stream(p[0], p[0]));
    const Compared got = compare_fds(p[0], p[0], 16, 0, 256 * 1024, true);
    close_fd(p[0]);
    EXPECT_EQ(got.result, CompareResult::done);
    EXPECT_EQ(got.report,
              "00000009: 09 AA\n"
              "00000010: 202122232425262728292A2B2C2D2E2F 303132333435363738393A3B3C3D3E3F\n");
}

TEST(CompareFiles, TwoOpensOfOneFileAreSeparateStreams) {
    const std::string file = scratch_dir() + "/file";
    write_file(file, counting_bytes(100));
    const int a = input_open(file.c_str());
    const int b = input_open(file.c_str());
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_FALSE(same_stream(a, b));
    EXPECT_FALSE(same_stream(a, a));
    input_close(a);
    input_close(b);
}

TEST(CompareFiles, TwoPipesAreSeparateStreams) {
    int p[2];
    int q[2];
    make_pipe(p);
    make_pipe(q);
    EXPECT_FALSE(same_stream(p[0], q[0]));
    for (const int fd : {p[0], p[1], q[0], q[1]}) {
        close_fd(fd);
    }
}

}  // namespace
