// Reading the line width and the block address from their command-line text.

#include <gtest/gtest.h>

#include "args.h"

namespace {

TEST(ParseLineWidth, ReadsLeadingDecimalDigits) {
    const struct {
        const char* text;
        std::int32_t width;
    } cases[] = {
        // clang-format off
        {"16", 16},           {"8x", 8},      {"016", 16},        {"0", 0},
        {"256", 256},         {"257", 257},   {"", 0},            {"x8", 0},
        {"2147483647", 2147483647},   {"2147483648", 2147483647},   {"4294967312", 2147483647},
        {"214748364", 214748364},     {"2147483640", 2147483640},   {"2147483650", 2147483647},
        {"99999999999999999999999", 2147483647},                    {"0000000000000257", 257},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_line_width(c.text), c.width) << c.text;
    }
}

TEST(ParseBlockAddress, ReadsHexLikeStrtoulIn32Bits) {
    const struct {
        const char* text;
        std::uint32_t address;
    } cases[] = {
        // clang-format off
        {"1000", 0x1000},         {"0x1000", 0x1000},       {"0X1000", 0x1000},
        {"abcdef", 0xABCDEF},     {"DeadBeef", 0xDEADBEEF}, {"xyz", 0},
        {"", 0},                  {"12g4", 0x12},           {"0x", 0},
        {"0xg", 0},               {"  \t\n7f", 0x7F},       {"+10", 0x10},
        {"-10", 0xFFFFFFF0},      {"-0x1", 0xFFFFFFFF},     {"-FFFFFFFF", 1},
        {"FFFFFFFF", 0xFFFFFFFF}, {"100000000", 0xFFFFFFFF}, {"-100000000", 0xFFFFFFFF},
        {"00000000000000001", 1}, {"1 2", 1},               {"- 1", 0},
        {"0x0x1", 0},             {"--1", 0},               {"0x99", 0x99},
        {"10000000000000009", 0xFFFFFFFF},                  {"-10000000000000009", 0xFFFFFFFF},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_block_address(c.text), c.address) << '"' << c.text << '"';
    }
}

}  // namespace
