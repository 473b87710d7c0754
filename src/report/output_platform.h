#pragma once
// The one part of writing the report that differs by platform: output_posix.cpp or
// output_windows.cpp (chosen by the build) hands the text to the system.

#include <cstddef>

// Writes all size bytes of text to fd, each '\n' as the platform's line end (CR LF on
// Windows); returns false when a write fails. When fd is a pipe whose reader has gone,
// the process ends there with no message: with status 1, or through SIGPIPE where that
// signal keeps its default action (POSIX).
bool output_write(int fd, const char* text, std::size_t size);
