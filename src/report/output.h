#pragma once
// The report's output channel: one fixed buffer in front of a file descriptor
// (standard output unless redirected). Write errors are remembered, not fatal.

#include <cstddef>

// Longest text one report line can need: address, two 256-byte halves, separators.
inline constexpr std::size_t OUTPUT_LINE_MAX = 8 + 2 + 2 * 256 + 1 + 2 * 256 + 1;

// Sends all later output to fd, forgetting any earlier write failure; call only while
// nothing is buffered.
void output_redirect(int fd);

// Returns room for at least n (<= OUTPUT_LINE_MAX) bytes, writing out the buffer first if needed.
char* output_space(std::size_t n);

// Marks the first n bytes of the room returned by output_space as written.
void output_commit(std::size_t n);

// Writes out everything buffered; returns false if any write so far has failed.
bool output_flush();

// True once a write has failed; the buffered text is then discarded.
bool output_failed();
