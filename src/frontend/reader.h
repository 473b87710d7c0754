#pragma once
// Reading one input file front to back through a fixed read-ahead buffer.

#include <cstddef>

struct Reader {
    int fd;
    unsigned char* buffer;  // caller's fixed buffer, at least MAX_LINE_BYTES long
    std::size_t capacity;
    std::size_t start;  // first byte not yet taken
    std::size_t end;    // one past the last byte read
    bool lockstep;      // read no further ahead than a block needs
    bool at_end;        // the file has given all it has for now: the last fill ended short
};

// A reader of fd over the caller's buffer, with nothing read yet.
Reader reader_make(int fd, unsigned char* buffer, std::size_t capacity);

// Reads until want bytes are buffered, the file ends, or a read fails;
// returns the bytes buffered (at most want; fewer only at the end) or -1 on a failed read.
long reader_fill(Reader& r, std::size_t want);

// Bytes buffered and not yet taken.
inline std::size_t reader_available(const Reader& r) { return r.end - r.start; }

// The first byte not yet taken.
inline const unsigned char* reader_data(const Reader& r) { return r.buffer + r.start; }

// Takes count buffered bytes.
inline void reader_take(Reader& r, std::size_t count) { r.start += count; }

// Room for more bytes after those buffered, at r.buffer + r.end: the buffered bytes are
// first moved to the front when less than half the buffer is free. For a reader that is
// handed its file's bytes instead of reading them.
std::size_t reader_room(Reader& r);

// Counts count bytes put into the room that reader_room made as buffered.
inline void reader_give(Reader& r, std::size_t count) { r.end += count; }
