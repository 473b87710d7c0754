// The POSIX entry point: the command line is already the bytes bvex reads.

#include "platform.h"

int main(int argc, char** argv) { return bvex_main(argc, argv); }
