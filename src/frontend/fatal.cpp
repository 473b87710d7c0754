#include "fatal.h"

#include <cstdio>
#include <cstdlib>

void fatal(const char* message) {
    (void)std::fprintf(stderr, "%s\n", message);
    std::exit(1);
}
