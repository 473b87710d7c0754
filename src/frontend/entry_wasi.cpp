// The WASI entry point: the command line is the bytes bvex reads, as on POSIX, but a WASI
// program has no current folder of its own. wasi-libc resolves a relative name against "/"
// until told another folder, so bvex first changes to the one its runner names in $PWD
// (tools/wasi-run.mjs, which gives bvex the machine's root as "/", passes it): relative and
// absolute names then mean what they mean natively.

#include <unistd.h>
#include <cstdlib>

#include "platform.h"

int main(int argc, char** argv) {
    const char* folder = std::getenv("PWD");
    if (folder != nullptr && *folder != '\0') {
        // Where the folder is not among the runtime's preopened ones, names stay as they
        // were: a runtime that preopens only "." still finds relative names there.
        (void)chdir(folder);
    }
    return bvex_main(argc, argv);
}
