#include "hex.h"

#include <bit>
#include <cstring>

namespace {

// Sixteen bytes as one value, which the compiler keeps in a vector register where the machine
// has one (SSE2, NEON, WebAssembly SIMD) and otherwise works through as plain bytes. Its
// elements are in memory order on every machine, so big-endian ones give the same text.
using Bytes16 = unsigned char __attribute__((vector_size(16)));

// The same as signed bytes, which every vector unit compares in one instruction.
using SignedBytes16 = signed char __attribute__((vector_size(16)));

// Each byte of nibbles (0 to 15) as its upper-case hex digit: '0' + n, and 7 more from 10 on,
// where 'A' follows '9' in ASCII after seven other characters. (Marked inline, as is
// format_sixteen: the hardened build's checked copies make them look too large to inline, and
// as calls they would cost more than their work.)
inline Bytes16 digits_of(Bytes16 nibbles) {
    // A true comparison sets every bit of its byte; 7 of them are kept.
    const auto letter = reinterpret_cast<Bytes16>(reinterpret_cast<SignedBytes16>(nibbles) > 9) & 7;
    return nibbles + '0' + letter;
}

// Writes the 32 digits of the 16 bytes of in, two per byte, the high digit first.
inline void format_sixteen(char* out, Bytes16 in) {
    const Bytes16 high = digits_of(in >> 4);
    const Bytes16 low = digits_of(in & 15);
    const Bytes16 first =
        __builtin_shufflevector(high, low, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const Bytes16 second = __builtin_shufflevector(high, low, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28,
                                                   13, 29, 14, 30, 15, 31);
    std::memcpy(out, &first, sizeof first);
    std::memcpy(out + sizeof first, &second, sizeof second);
}

// Writes value as eight hex digits, the most significant first.
char* format_address(char* out, std::uint32_t value) {
    // The four bytes of value in memory, the most significant first, then twelve zero bytes.
    if constexpr (std::endian::native == std::endian::little) {
        value = (value >> 24) | ((value >> 8) & 0xFF00u) | ((value & 0xFF00u) << 8) | (value << 24);
    }
    // Put in a vector register straight away: a copy through memory would make the vector
    // wait for the store to land.
    using Words4 = std::uint32_t __attribute__((vector_size(16)));
    const Words4 words = {value, 0, 0, 0};
    const auto bytes = reinterpret_cast<Bytes16>(words);
    char digits[2 * sizeof(Bytes16)];
    format_sixteen(digits, bytes);
    std::memcpy(out, digits, 8);
    return out + 8;
}

}  // namespace

char* format_line(char* out, std::uint32_t address, const unsigned char* original,
                  const unsigned char* patched, std::size_t count) {
    out = format_address(out, address);
    *out++ = ':';
    *out++ = ' ';
    // Both halves in one pass: the patched digits start after the original ones and a space.
    char* const second_half = out + 2 * count + 1;
    std::size_t done = 0;
    for (; count - done >= sizeof(Bytes16); done += sizeof(Bytes16)) {
        Bytes16 in;
        std::memcpy(&in, original + done, sizeof in);
        format_sixteen(out + 2 * done, in);
        std::memcpy(&in, patched + done, sizeof in);
        format_sixteen(second_half + 2 * done, in);
    }
    // The last few bytes one at a time: a vector made of them would first have to wait for
    // their copy to land in memory, which costs more than these few digits.
    constexpr char DIGITS[] = "0123456789ABCDEF";
    for (; done < count; ++done) {
        out[2 * done] = DIGITS[original[done] >> 4];
        out[2 * done + 1] = DIGITS[original[done] & 15];
        second_half[2 * done] = DIGITS[patched[done] >> 4];
        second_half[2 * done + 1] = DIGITS[patched[done] & 15];
    }
    out[2 * count] = ' ';
    second_half[2 * count] = '\n';
    return second_half + 2 * count + 1;
}
