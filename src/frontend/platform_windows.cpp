// The Windows side of the platform seam: wide file names, raw binary reads.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>

#include "platform.h"
#include "utf16.h"

namespace {

// Largest read asked of the system at once; a DWORD holds it.
constexpr std::size_t READ_MAX = std::size_t{1} << 30;

// The system handle behind fd; the C runtime hands it over as an integer.
HANDLE handle_of(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

int input_open(const char* name) {
    const std::u16string units = utf16_from_utf8(name);
    const std::wstring wide(units.begin(), units.end());
    return _wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

long input_read(int fd, unsigned char* buffer, std::size_t size) {
    DWORD got = 0;
    const auto ask = static_cast<DWORD>(size < READ_MAX ? size : READ_MAX);
    if (ReadFile(handle_of(fd), buffer, ask, &got, nullptr) != 0) {
        return static_cast<long>(got);
    }
    // A pipe whose writer has closed its end has simply ended.
    const DWORD error = GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : -1;
}

void input_close(int fd) { _close(fd); }

bool same_stream(int fd_a, int fd_b) {
    // Every open of a file, disk or named pipe has its own position or pipe instance; a
    // character device (the console) hands each byte to one reader only. Two character
    // devices cannot be told apart, so both are taken for one stream: that costs only
    // read-ahead.
    if (fd_a == fd_b) {
        return GetFileType(handle_of(fd_a)) != FILE_TYPE_DISK;
    }
    return GetFileType(handle_of(fd_a)) == FILE_TYPE_CHAR &&
           GetFileType(handle_of(fd_b)) == FILE_TYPE_CHAR;
}
