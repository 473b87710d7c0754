#pragma once
// What bvex does differently on POSIX and on Windows, behind one set of calls:
// platform_posix.cpp or platform_windows.cpp (chosen by the build) opens, reads and
// closes the input files; entry_posix.cpp or entry_windows.cpp is the entry point.

#include <cstddef>

// Opens the file name (bytes on POSIX, UTF-8 on Windows) read-only as raw bytes, with no
// translation of line ends; returns its descriptor, or -1 when it cannot be opened.
int input_open(const char* name);

// Reads up to size bytes into buffer; returns the bytes read, 0 at the end, -1 on a failure.
long input_read(int fd, unsigned char* buffer, std::size_t size);

// Closes a descriptor that input_open returned.
void input_close(int fd);

// True when the two descriptors read one and the same stream (a pipe, socket or terminal
// on POSIX; a character device such as the console on Windows), so that reading ahead on
// one would take bytes the other should see.
bool same_stream(int fd_a, int fd_b);

// Runs bvex on its command line (the text input_open takes) and returns its exit status;
// the platform's entry point calls it.
int bvex_main(int argc, char** argv);
