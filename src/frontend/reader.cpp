#include "reader.h"

#include <cstring>

#include "platform.h"

Reader reader_make(int fd, unsigned char* buffer, std::size_t capacity) {
    return Reader{fd, buffer, capacity, 0, 0, false, false};
}

namespace {

// Moves the bytes not yet taken to the front of the buffer.
void move_to_front(Reader& r) {
    const std::size_t available = reader_available(r);
    std::memmove(r.buffer, r.buffer + r.start, available);
    r.start = 0;
    r.end = available;
}

}  // namespace

long reader_fill(Reader& r, std::size_t want) {
    while (reader_available(r) < want) {
        const std::size_t available = reader_available(r);
        // Move what is left to the front when the block would not fit, or for free when nothing is.
        if (available == 0 || r.capacity - r.end < want - available) {
            move_to_front(r);
        }
        const std::size_t ask = r.lockstep ? want - available : r.capacity - r.end;
        const long got = input_read(r.fd, r.buffer + r.end, ask);
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            return static_cast<long>(available);
        }
        r.end += static_cast<std::size_t>(got);
    }
    return static_cast<long>(want);
}

std::size_t reader_room(Reader& r) {
    if (r.capacity - r.end < r.capacity / 2) {
        move_to_front(r);
    }
    return r.capacity - r.end;
}
