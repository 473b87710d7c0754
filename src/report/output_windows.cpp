// The Windows side of writing the report: every '\n' goes out as CR LF, through WriteFile.

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "output_platform.h"

namespace {

// Text is translated and written this many bytes at a time (plus room for one CR); a
// console takes a write of this size on every Windows version.
constexpr std::size_t CHUNK_BYTES = std::size_t{16} * 1024;

// Writes all size bytes to handle; a pipe without a reader ends the process at once.
bool write_all(HANDLE handle, const char* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        DWORD n = 0;
        if (WriteFile(handle, bytes + done, static_cast<DWORD>(size - done), &n, nullptr) == 0) {
            const DWORD error = GetLastError();
            // What SIGPIPE does on POSIX: the reader has gone, so nobody needs a message.
            if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) {
                std::_Exit(1);
            }
            return false;
        }
        if (n == 0) {
            return false;
        }
        done += n;
    }
    return true;
}

}  // namespace

bool output_write(int fd, const char* text, std::size_t size) {
    // No handle at all (-1, or -2 for a process started without standard output).
    const std::intptr_t os_handle = _get_osfhandle(fd);
    if (os_handle <= 0) {
        return false;
    }
    const auto handle = reinterpret_cast<HANDLE>(os_handle);  // NOLINT(performance-no-int-to-ptr)
    char chunk[CHUNK_BYTES + 1];
    std::size_t at = 0;
    while (at < size) {
        std::size_t used = 0;
        while (at < size && used < CHUNK_BYTES) {
            const std::size_t span = std::min(size - at, CHUNK_BYTES - used);
            const auto* newline = static_cast<const char*>(std::memchr(text + at, '\n', span));
            const std::size_t plain =
                newline == nullptr ? span : static_cast<std::size_t>(newline - (text + at));
            std::memcpy(chunk + used, text + at, plain);
            used += plain;
            at += plain;
            if (newline != nullptr) {
                chunk[used++] = '\r';
                chunk[used++] = '\n';
                ++at;
            }
        }
        if (!write_all(handle, chunk, used)) {
            return false;
        }
    }
    return true;
}
