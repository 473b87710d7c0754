#pragma once
// The equal-bytes test of the block loop, the one place its speed is decided: memcmp where
// the C library's is fast (equal_memcmp.cpp), 128-bit SIMD under WASI, whose C library
// compares a byte at a time (equal_wasi.cpp); the build chooses one.

#include <cstddef>

// True when the size bytes at a and at b are the same.
bool bytes_equal(const unsigned char* a, const unsigned char* b, std::size_t size);
