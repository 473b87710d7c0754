// Fuzz target: the block loop and the report over two arbitrary files.
//
// Input layout: byte 0 picks the line width (1..256), bytes 1-4 the block
// address (little-endian), byte 5 the read-ahead capacity, bytes 6-7 how many
// of the remaining bytes belong to the original file; the rest is the patched
// file. The printed report is checked for its properties, not against a copy
// of the code that made it.

#include <sys/mman.h>
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "compare.h"
#include "output.h"
#include "report.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A memory file holding bytes, positioned at its start.
int load(int fd, const std::uint8_t* bytes, std::size_t size) {
    check(ftruncate(fd, 0) == 0);
    check(lseek(fd, 0, SEEK_SET) == 0);
    check(write(fd, bytes, size) == static_cast<ssize_t>(size));
    check(lseek(fd, 0, SEEK_SET) == 0);
    return fd;
}

std::string read_all(int fd) {
    std::string text;
    char chunk[65536];
    check(lseek(fd, 0, SEEK_SET) == 0);
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    std::abort();  // lower-case or other characters are malformed
}

// Reads count two-digit hex bytes from text at pos.
std::vector<std::uint8_t> hex_bytes(const std::string& text, std::size_t pos, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(hex_value(text[pos + 2 * i]) * 16 +
                                             hex_value(text[pos + 2 * i + 1]));
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return 0;
    }
    const std::size_t width = std::size_t{data[0]} + 1;
    std::uint32_t address = 0;
    std::memcpy(&address, data + 1, 4);
    const std::size_t capacity = 256 + std::size_t{data[5]} * 16;
    const std::uint8_t* files = data + 8;
    const std::size_t total = size - 8;
    const std::size_t split = std::min<std::size_t>((std::size_t{data[6]} << 8 | data[7]), total);
    const std::uint8_t* original = files;
    const std::uint8_t* patched = files + split;
    const std::size_t original_size = split;
    const std::size_t patched_size = total - split;

    static const int original_fd = memfd_create("original", 0);
    static const int patched_fd = memfd_create("patched", 0);
    static const int report_fd = memfd_create("report", 0);
    static std::vector<unsigned char> buffer_a(256 + 255 * 16);
    static std::vector<unsigned char> buffer_b(256 + 255 * 16);

    Reader a = reader_make(load(original_fd, original, original_size), buffer_a.data(), capacity);
    Reader b = reader_make(load(patched_fd, patched, patched_size), buffer_b.data(), capacity);
    load(report_fd, nullptr, 0);
    output_redirect(report_fd);
    check(compare_files(a, b, static_cast<std::int32_t>(width), address) == CompareResult::done);
    const std::string report = read_all(report_fd);

    const std::size_t common = std::min(original_size, patched_size);
    std::vector<int> covered(common, 0);
    std::size_t next_free = 0;  // offset at which the next line may start
    std::size_t pos = 0;
    while (pos < report.size()) {
        // "XXXXXXXX: " then 2k digits, " ", 2k digits, "\n".
        const std::size_t eol = report.find('\n', pos);
        check(eol != std::string::npos);
        const std::size_t line_length = eol - pos;
        check(line_length >= 10 + 5 && (line_length - 11) % 4 == 0);
        const std::size_t span = (line_length - 11) / 4;
        check(report[pos + 8] == ':' && report[pos + 9] == ' ');
        check(report[pos + 10 + 2 * span] == ' ');
        const std::vector<std::uint8_t> at = hex_bytes(report, pos, 4);
        const std::uint32_t line_address = std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 |
                                           std::uint32_t{at[2]} << 8 | at[3];
        const std::size_t offset = line_address - address;  // wraps past FFFFFFFF like the address
        const std::vector<std::uint8_t> was = hex_bytes(report, pos + 10, span);
        const std::vector<std::uint8_t> now = hex_bytes(report, pos + 11 + 2 * span, span);

        check(offset >= next_free && offset + span <= common);  // in file order, no overlap
        check(span <= width && offset / width == (offset + span - 1) / width);  // within one block
        check(std::memcmp(was.data(), original + offset, span) == 0);
        check(std::memcmp(now.data(), patched + offset, span) == 0);
        // A line starts at a difference or at its block's start, and ends at a
        // difference or at its block's end, never one equal byte short of it.
        const std::size_t last = offset + span - 1;
        const std::size_t block_end = std::min((offset / width + 1) * width, common);
        check(was[0] != now[0] || offset % width == 0);
        check(was[span - 1] != now[span - 1] || last + 1 == block_end);
        check(last + 2 != block_end || original[last + 1] != patched[last + 1]);
        for (std::size_t i = offset; i <= last; ++i) {
            ++covered[i];
        }
        next_free = offset + span;
        pos = eol + 1;
    }
    for (std::size_t i = 0; i < common; ++i) {
        check(covered[i] <= 1);
        check(original[i] == patched[i] || covered[i] == 1);
    }
    return 0;
}
