// The WASI entry point: the command line is the bytes bvex reads, as on POSIX, but a WASI
// program has no current folder of its own. wasi-libc resolves a relative name against "/"
// until told another folder, so bvex first changes to the one its runner names in $PWD
// (tools/wasi-run.mjs, which gives bvex the build machine's root as "/", passes it):
// relative and absolute names then mean what they mean natively.

#include <unistd.h>
#include <cstdlib>

#include "platform.h"

int main(int argc, char** argv) {
    const char* folder = std::getenv("PWD");
    if (folder != nullptr && *folder != '\0') {
        // A folder that cannot be entered leaves names relative to "/": those fail to open.
        (void)chdir(folder);
    }
    return bvex_main(argc, argv);
}
