// Fuzz target: the readers of the line width and the block address, checked
// against an independent reading with the C library and explicit 32-bit rules.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "args.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Decimal digits at the start; a value past 2^31 - 1 gives 2^31 - 1.
std::int32_t expected_width(const std::string& text) {
    const std::string digits = text.substr(0, std::strspn(text.c_str(), "0123456789"));
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
    if (errno == ERANGE || value > 0x7FFFFFFFull) {
        return 0x7FFFFFFF;
    }
    return static_cast<std::int32_t>(value);
}

// strtoull base 16 on the magnitude; too large for 32 bits gives FFFFFFFF, a minus negates.
std::uint32_t expected_address(const std::string& text) {
    const char* p = text.c_str();
    while (*p != '\0' && std::strchr(" \t\n\v\f\r", *p) != nullptr) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    // strtoull would take blanks or a second sign here; a single reading does not.
    if (*p == '\0' || std::strchr(" \t\n\v\f\r+-", *p) != nullptr) {
        return 0;
    }
    errno = 0;
    const unsigned long long magnitude = std::strtoull(p, nullptr, 16);
    if (errno == ERANGE || magnitude > 0xFFFFFFFFull) {
        return 0xFFFFFFFFu;
    }
    const auto value = static_cast<std::uint32_t>(magnitude);
    return negative ? 0u - value : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string terminated = text.substr(0, text.find('\0'));
    check(parse_line_width(terminated.c_str()) == expected_width(terminated));
    check(parse_block_address(terminated.c_str()) == expected_address(terminated));
    return 0;
}
