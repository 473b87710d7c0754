// The Windows entry point: the command line arrives as UTF-16 and is handed on as UTF-8,
// which options and the block address are read from exactly as on POSIX and which
// input_open turns back into the very same wide file names.

#include <string>
#include <vector>

#include "platform.h"
#include "utf16.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        const std::wstring wide(argv[i]);
        args.push_back(utf8_from_utf16(std::u16string(wide.begin(), wide.end())));
    }
    std::vector<char*> pointers;
    pointers.reserve(args.size() + 1);
    for (std::string& arg : args) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    return bvex_main(argc, pointers.data());
}
