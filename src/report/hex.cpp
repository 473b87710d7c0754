#include "hex.h"

#include <array>
#include <cstring>

namespace {

// The two digits of every byte value, side by side: "000102...FEFF".
constexpr std::array<char, 512> make_pairs() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<char, 512> pairs{};
    for (std::size_t b = 0; b < 256; ++b) {
        pairs[2 * b] = digits[b >> 4];
        pairs[2 * b + 1] = digits[b & 15];
    }
    return pairs;
}

constexpr std::array<char, 512> HEX_PAIRS = make_pairs();

}  // namespace

char* format_address(char* out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        std::memcpy(out, &HEX_PAIRS[std::size_t{2} * ((value >> shift) & 0xFFu)], 2);
        out += 2;
    }
    return out;
}

char* format_bytes(char* out, const unsigned char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(out + 2 * i, &HEX_PAIRS[2 * std::size_t{bytes[i]}], 2);
    }
    return out + 2 * count;
}
