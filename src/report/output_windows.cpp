// The Windows side of writing the report: every '\n' goes out as CR LF, through the C
// runtime's _write on a descriptor in binary mode (so that it adds no CR of its own).

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "output_platform.h"

namespace {

// Text is translated and written this many bytes at a time (plus room for one CR); a
// console takes a write of this size on every Windows version.
constexpr std::size_t CHUNK_BYTES = std::size_t{16} * 1024;

// The system's codes for a write to a pipe whose reader has gone (ERROR_BROKEN_PIPE,
// ERROR_NO_DATA and ERROR_PIPE_NOT_CONNECTED), which the C runtime keeps in _doserrno.
// It turns the first two into errno EPIPE, except Wine's, which gives EINVAL for the
// second, and Wine reports a POSIX pipe whose reader has closed as the third: the code
// itself is what tells.
constexpr unsigned long PIPE_BROKEN = 109;
constexpr unsigned long PIPE_CLOSING = 232;
constexpr unsigned long PIPE_NOT_CONNECTED = 233;

// True when the write that just failed went to a pipe whose reader has gone.
bool reader_gone() {
    return errno == EPIPE || _doserrno == PIPE_BROKEN || _doserrno == PIPE_CLOSING ||
           _doserrno == PIPE_NOT_CONNECTED;
}

// Writes all size bytes to fd; a pipe without a reader ends the process at once.
bool write_all(int fd, const char* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        _doserrno = 0;  // not every failure sets it
        const int n = _write(fd, bytes + done, static_cast<unsigned>(size - done));
        if (n < 0 && reader_gone()) {
            // What SIGPIPE does on POSIX: the reader has gone, so nobody needs a message.
            std::_Exit(1);
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool output_write(int fd, const char* text, std::size_t size) {
    // Standard output starts in text mode, which would turn each CR LF into CR CR LF.
    // Without a descriptor at all this fails, and so does the write below.
    _setmode(fd, _O_BINARY);
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
        if (!write_all(fd, chunk, used)) {
            return false;
        }
    }
    return true;
}
