// The report's lines: spans, joining across block boundaries, the held-back
// last line and the address, checked on whole files handed over block by block.

#include <gtest/gtest.h>

#include "report.h"
#include "support.h"

namespace {

struct ReportCase {
    const char* name;
    Bytes original;
    Bytes patched;
    std::int32_t width;
    std::uint32_t address;
    const char* expected;
};

// Files of 48 counting bytes, the patched one changed at the given offsets.
ReportCase counting(const char* name, std::vector<std::pair<std::size_t, unsigned char>> changes,
                    const char* expected, std::int32_t width = 16, std::uint32_t address = 0) {
    return {name, counting_bytes(48), counting_bytes(48, changes), width, address, expected};
}

std::vector<std::pair<std::size_t, unsigned char>> fill(std::size_t from, std::size_t to,
                                                        unsigned char value) {
    std::vector<std::pair<std::size_t, unsigned char>> changes;
    for (std::size_t i = from; i <= to; ++i) {
        changes.emplace_back(i, value);
    }
    return changes;
}

const std::vector<ReportCase> CASES = {
    counting("identical", {}, ""),
    counting("two differences in one block", {{3, 0xAA}, {5, 0xBB}}, "00000003: 030405 AA04BB\n"),
    counting("one trailing equal byte is shown", {{2, 0xAA}, {14, 0xCC}},
             "00000002: 02030405060708090A0B0C0D0E0F AA030405060708090A0B0C0DCC0F\n"),
    counting("gap 3 joins", {{13, 0xAA}, {17, 0xBB}},
             "0000000D: 0D0E0F AA0E0F\n00000010: 1011 10BB\n"),
    counting("gap 4 joins", {{15, 0xAA}, {20, 0xBB}},
             "0000000F: 0F AA\n00000010: 1011121314 10111213BB\n"),
    counting("gap 5 does not join", {{10, 0xAA}, {16, 0xBB}}, "0000000A: 0A AA\n00000010: 10 BB\n"),
    counting("gap 4 joins at width 8", {{5, 0xAA}, {10, 0xBB}},
             "00000005: 050607 AA0607\n00000008: 08090A 0809BB\n", 8),
    counting("gap 5 does not join at width 32", {{29, 0xAA}, {35, 0xBB}},
             "0000001D: 1D AA\n00000023: 23 BB\n", 32),
    counting("change over several blocks", fill(10, 40, 0xEE),
             "0000000A: 0A0B0C0D0E0F EEEEEEEEEEEE\n"
             "00000010: 101112131415161718191A1B1C1D1E1F EEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEE\n"
             "00000020: 202122232425262728 EEEEEEEEEEEEEEEEEE\n"),
    counting("two equal bytes at the end are not shown", {{13, 0xAA}}, "0000000D: 0D AA\n"),
    counting("an equal byte at the start is not shown", {{17, 0xAA}}, "00000011: 11 AA\n"),
    counting("difference in the last byte", {{47, 0xAA}}, "0000002F: 2F AA\n"),
    counting("address from the command line", {{40, 0x99}}, "00008028: 28 99\n", 8, 0x8000),
    counting("address wraps past FFFFFFFF", {{1, 0xAA}, {20, 0xBB}},
             "FFFFFFF1: 01 AA\n00000004: 14 BB\n", 16, 0xFFFFFFF0),
    counting("width 1 never joins across an equal block", {{1, 0xAA}, {3, 0xBB}},
             "00000001: 01 AA\n00000003: 03 BB\n", 1),
    counting("width 1 joins adjacent differences", {{1, 0xAA}, {2, 0xBB}},
             "00000001: 01 AA\n00000002: 02 BB\n", 1),
    counting("width 256 holds a whole file", {{0, 0xAA}, {46, 0xBB}},
             "00000000: 000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"
             "202122232425262728292A2B2C2D2E2F AA0102030405060708090A0B0C0D0E0F1011121314151617"
             "18191A1B1C1D1E1F202122232425262728292A2B2C2DBB2F\n",
             256),
    {"short last block ends its line", counting_bytes(20), counting_bytes(20, {{18, 0xAA}}), 16, 0,
     "00000012: 1213 AA13\n"},
    {"common length only", counting_bytes(48, {{30, 0xAA}}), counting_bytes(20, {{18, 0xAA}}), 16,
     0, "00000012: 1213 AA13\n"},
    {"bytes above 7F print unsigned", Bytes{0x00, 0x80, 0xFF}, Bytes{0xFF, 0x7F, 0x00}, 16, 0,
     "00000000: 0080FF FF7F00\n"},
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class ReportTest : public testing::TestWithParam<ReportCase> {};

TEST_P(ReportTest, PrintsExpectedLines) {
    const ReportCase& c = GetParam();
    EXPECT_EQ(report_by_blocks(c.original, c.patched, c.width, c.address), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportTest, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<ReportCase>& param) {
                             std::string name = param.param.name;
                             for (char& ch : name) {
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

TEST(ReportBlock, LineIsHeldBackUntilTheNextCall) {
    const Bytes a = {1, 2, 3};
    const Bytes b = {1, 9, 3};
    const std::string first = capture_report([&] { report_block(0, a.data(), b.data(), 3); });
    const std::string rest = capture_report([&] {
        report_block(3, a.data(), a.data(), 3);
        report_block(6, nullptr, nullptr, 0);
    });
    EXPECT_EQ(first, "");
    EXPECT_EQ(rest, "00000001: 0203 0903\n");
}

}  // namespace
