// The Windows side of the platform seam: the C runtime's wide-character file calls,
// wide file names, raw binary reads.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <string>

#include "platform.h"
#include "utf16.h"

namespace {

// Largest read asked of the C runtime at once; its count and result are ints.
constexpr std::size_t READ_MAX = std::size_t{1} << 30;

// The kind of file fd is open on (_S_IFREG, _S_IFCHR, _S_IFIFO ...), or 0 when unknown.
int file_type(int fd) {
    struct _stat64 st {};
    return _fstat64(fd, &st) == 0 ? st.st_mode & _S_IFMT : 0;
}

}  // namespace

int input_open(const char* name) {
    const std::u16string units = utf16_from_utf8(name);
    const std::wstring wide(units.begin(), units.end());
    return _wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

long input_read(int fd, unsigned char* buffer, std::size_t size) {
    // The C runtime gives 0 for a pipe whose writer has closed its end: it has simply ended.
    return _read(fd, buffer, static_cast<unsigned>(size < READ_MAX ? size : READ_MAX));
}

void input_close(int fd) { _close(fd); }

bool same_stream(int fd_a, int fd_b) {
    // Every open of a file, disk or named pipe has its own position or pipe instance; a
    // character device (the console) hands each byte to one reader only. Two character
    // devices cannot be told apart, so both are taken for one stream: that costs only
    // read-ahead.
    if (fd_a == fd_b) {
        const int type = file_type(fd_a);
        return type == _S_IFCHR || type == _S_IFIFO;
    }
    return file_type(fd_a) == _S_IFCHR && file_type(fd_b) == _S_IFCHR;
}
