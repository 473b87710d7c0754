// The SIMD equal-bytes test of the WASI build against the plain answer, a plain program that
// the wasi build runs under Node (GoogleTest cannot be built for WASI). Each size up to
// four rounds of vectors and a part vector is compared with one difference at each place, and
// with none; the bytes right before and after the compared ones differ, so that reading
// outside them changes the answer. It names every wrong answer, and fails with status 1.

#include <cstdio>
#include <cstring>

#include "equal.h"

namespace {

constexpr std::size_t LARGEST = 4 * 64 + 16 + 15;
constexpr std::size_t MARGIN = 64;

unsigned char a_space[MARGIN + LARGEST + MARGIN];
unsigned char b_space[MARGIN + LARGEST + MARGIN];

}  // namespace

int main() {
    int wrong = 0;
    unsigned char* const a = a_space + MARGIN;
    unsigned char* const b = b_space + MARGIN;
    for (std::size_t size = 0; size <= LARGEST; ++size) {
        // A difference at each place, then (at == size) none.
        for (std::size_t at = 0; at <= size; ++at) {
            std::memset(a_space, 0x00, sizeof a_space);
            std::memset(b_space, 0xFF, sizeof b_space);
            for (std::size_t i = 0; i < size; ++i) {
                a[i] = b[i] = static_cast<unsigned char>(i * 7 + 1);
            }
            if (at < size) {
                b[at] ^= 0x40;
            }
            if (bytes_equal(a, b, size) != (at == size)) {
                (void)std::fprintf(stderr, "%zu bytes, difference at %zu: wrong answer\n", size,
                                   at);
                ++wrong;
            }
        }
    }
    return wrong == 0 ? 0 : 1;
}
