#pragma once
// The one way bvex reports an error: the message on standard error, then exit.

// Writes message and a newline to standard error and ends the process with status 1.
[[noreturn]] void fatal(const char* message);
