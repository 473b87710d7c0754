#include "args.h"

#include "fatal.h"
#include "report.h"

namespace {

constexpr const char* USAGE =
    "Usage:  bvex [-NN] <original file> <patched file> [block address]\n"
    "\n"
    "        -NN  output NN bytes at line (NN>=4)\n"
    "\n";

bool is_decimal_digit(char c) { return c >= '0' && c <= '9'; }

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Value of a hex digit, or -1 for any other character.
int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::int32_t parse_line_width(const char* text) {
    // Saturating, so that no string of digits, however long, comes back into range as a
    // width it does not say.
    constexpr std::int32_t LARGEST = 0x7FFFFFFF;
    std::int32_t value = 0;
    for (; is_decimal_digit(*text); ++text) {
        const std::int32_t digit = *text - '0';
        value = value > (LARGEST - digit) / 10 ? LARGEST : value * 10 + digit;
    }
    return value;
}

std::uint32_t parse_block_address(const char* text) {
    while (is_space(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    // "0x" is a prefix only when a hex digit follows; otherwise the 0 is the number.
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && hex_digit(text[2]) >= 0) {
        text += 2;
    }
    std::uint64_t magnitude = 0;
    for (int d = hex_digit(*text); d >= 0; d = hex_digit(*++text)) {
        magnitude = magnitude * 16u + static_cast<std::uint64_t>(d);
        if (magnitude > 0xFFFFFFFFu) {
            return 0xFFFFFFFFu;
        }
    }
    const auto value = static_cast<std::uint32_t>(magnitude);
    return negative ? 0u - value : value;
}

Args parse_args(int argc, char** argv) {
    Args args = {DEFAULT_LINE_BYTES, 0, nullptr, nullptr};
    int next = 1;
    for (; next < argc && argv[next][0] == '-'; ++next) {
        const char option = argv[next][1];
        if (is_decimal_digit(option)) {
            args.line_width = parse_line_width(argv[next] + 1);
        } else if (option != 'V' && option != 'v') {
            fatal("Unknown parameter\n");
        }
    }
    if (argc - next < 2) {
        fatal(USAGE);
    }
    if (args.line_width > MAX_LINE_BYTES) {
        fatal("line width must be from 0 to 256");
    }
    args.original = argv[next];
    args.patched = argv[next + 1];
    if (argc - next >= 3) {
        args.block_address = parse_block_address(argv[next + 2]);
    }
    return args;
}
