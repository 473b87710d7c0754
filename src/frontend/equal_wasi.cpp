// The equal-bytes test under WASI: wasi-libc's memcmp compares a byte at a time, so equal
// stretches are compared 16 bytes to an instruction with WebAssembly's 128-bit SIMD.

#include <wasm_simd128.h>

#include "equal.h"

namespace {

constexpr std::size_t VECTOR_BYTES = 16;
constexpr std::size_t ROUND_BYTES = 4 * VECTOR_BYTES;

// The 16 bytes at a xor those at b: all zero where they are equal.
v128_t difference(const unsigned char* a, const unsigned char* b) {
    return wasm_v128_xor(wasm_v128_load(a), wasm_v128_load(b));
}

// The same over 64 bytes, folded into one vector.
v128_t round_difference(const unsigned char* a, const unsigned char* b) {
    const v128_t low = wasm_v128_or(difference(a, b), difference(a + 16, b + 16));
    const v128_t high = wasm_v128_or(difference(a + 32, b + 32), difference(a + 48, b + 48));
    return wasm_v128_or(low, high);
}

}  // namespace

bool bytes_equal(const unsigned char* a, const unsigned char* b, std::size_t size) {
    if (size < VECTOR_BYTES) {
        for (std::size_t i = 0; i < size; ++i) {
            if (a[i] != b[i]) {
                return false;
            }
        }
        return true;
    }
    std::size_t at = 0;
    for (; size - at >= ROUND_BYTES; at += ROUND_BYTES) {
        if (wasm_v128_any_true(round_difference(a + at, b + at))) {
            return false;
        }
    }
    for (; size - at >= VECTOR_BYTES; at += VECTOR_BYTES) {
        if (wasm_v128_any_true(difference(a + at, b + at))) {
            return false;
        }
    }
    // A last part vector: the final 16 bytes, overlapping some already compared.
    return at == size ||
           !wasm_v128_any_true(difference(a + size - VECTOR_BYTES, b + size - VECTOR_BYTES));
}
