#include <algorithm>
#include <chrono>
#include <random>

#include "report.h"
#include "support.h"

std::string report_by_blocks(const Bytes& original, const Bytes& patched, std::int32_t width,
                             std::uint32_t address) {
    return capture_report([&] {
        const std::size_t common = std::min(original.size(), patched.size());
        const auto step = static_cast<std::size_t>(width);
        for (std::size_t at = 0; width > 0 && at < common; at += step) {
            const std::size_t length = std::min(step, common - at);
            report_block(address, original.data() + at, patched.data() + at,
                         static_cast<std::int32_t>(length));
            address += static_cast<std::uint32_t>(length);
        }
        report_block(address, nullptr, nullptr, 0);
    });
}

Bytes counting_bytes(std::size_t length,
                     const std::vector<std::pair<std::size_t, unsigned char>>& changes) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<unsigned char>(i);
    }
    for (const auto& [at, value] : changes) {
        bytes[at] = value;
    }
    return bytes;
}

const std::string& samples() {
    static const std::string dir = [] {
        const std::string d = scratch_dir();
        write_file(d + "/a", counting_bytes(48));
        write_file(d + "/b", counting_bytes(48, {{3, 0xAA}, {5, 0xBB}}));
        write_file(d + "/same", counting_bytes(48));
        write_file(d + "/empty", {});
        write_file(d + "/-b", counting_bytes(48, {{3, 0xAA}, {5, 0xBB}}));
        write_file(d + "/raw_a", {'a', '\r', '\n', 0x1A, 'b', '\n', 'c'});
        write_file(d + "/raw_b", {'a', '\r', '\n', 0x1A, 'b', '\n', 'd'});
        const std::uint64_t past_4_gib = (std::uint64_t{1} << 32) + 0x13;
        write_sparse_file(d + "/huge_a", past_4_gib + 13, past_4_gib, 0x12);
        write_sparse_file(d + "/huge_b", past_4_gib + 13, past_4_gib, 0xAB);
        make_dir(d + "/dir");
        return d;
    }();
    return dir;
}

Compared compare_fds(int original_fd, int patched_fd, std::int32_t width, std::uint32_t address,
                     std::size_t capacity, bool lockstep) {
    Reader original = reader_make(original_fd, guarded_buffer(0, capacity), capacity);
    Reader patched = reader_make(patched_fd, guarded_buffer(1, capacity), capacity);
    original.lockstep = patched.lockstep = lockstep;
    CompareResult result{};
    const std::string report =
        capture_report([&] { result = compare_files(original, patched, width, address); });
    return {report, result};
}

std::thread trickle(int fd, Bytes bytes, unsigned seed, std::size_t largest) {
    return std::thread([fd, bytes = std::move(bytes), seed, largest] {
        std::mt19937 rng(seed);
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % largest, bytes.size() - at);
            write_fd(fd, bytes.data() + at, n);
            at += n;
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 200));
        }
        close_fd(fd);
    });
}
