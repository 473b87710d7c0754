// The block loop on what only Windows has: a named pipe whose server disconnects, so
// that its bytes can be read and then reading fails, and character devices.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

#include "compare.h"
#include "platform.h"
#include "support.h"

namespace {

// Serves bytes on a new named pipe, then disconnects its client once it has read them all.
struct FailingPipe {
    std::string name;
    std::thread server;
};

FailingPipe failing_after(const Bytes& bytes) {
    static int count = 0;
    const std::string name = "\\\\.\\pipe\\bvex-test-" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(++count);
    const HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
    std::thread server([pipe, bytes] {
        const BOOL connected = ConnectNamedPipe(pipe, nullptr);
        EXPECT_TRUE(connected != 0 || GetLastError() == ERROR_PIPE_CONNECTED);
        DWORD written = 0;
        EXPECT_NE(
            WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr), 0);
        FlushFileBuffers(pipe);  // returns once the client has read everything
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
    });
    return {name, std::move(server)};
}

TEST(CompareFiles, ReadFailureStillPrintsWhatWasCompared) {
    // The failing side gives 40 bytes, then fails in the middle of the third block.
    const Bytes original = counting_bytes(48);
    const Bytes patched = counting_bytes(48, {{3, 0xAA}, {30, 0xBB}});
    for (const bool fail_original : {true, false}) {
        const Bytes& source = fail_original ? original : patched;
        FailingPipe pipe = failing_after(Bytes(source.begin(), source.begin() + 40));
        const int failing = input_open(pipe.name.c_str());
        ASSERT_GE(failing, 0);
        const int good = memory_file(fail_original ? patched : original);
        const Compared got = fail_original ? compare_fds(failing, good, 16, 0, 4096)
                                           : compare_fds(good, failing, 16, 0, 4096);
        pipe.server.join();
        input_close(failing);
        close_fd(good);
        EXPECT_EQ(got.result, fail_original ? CompareResult::original_unreadable
                                            : CompareResult::patched_unreadable);
        EXPECT_EQ(got.report, "00000003: 03 AA\n0000001E: 1E1F BB1F\n");
    }
}

TEST(CompareFiles, CharacterDevicesNamedTwiceAreOneStream) {
    // Two character devices cannot be told apart (two opens of the console share its
    // input), so they are read in step; a file next to one is not.
    const std::string file = scratch_dir() + "/file";
    write_file(file, counting_bytes(10));
    const int nul = input_open("NUL");
    const int also_nul = input_open("nul");
    const int regular = input_open(file.c_str());
    ASSERT_GE(nul, 0);
    ASSERT_GE(also_nul, 0);
    ASSERT_GE(regular, 0);
    EXPECT_TRUE(same_stream(nul, also_nul));
    EXPECT_FALSE(same_stream(nul, regular));
    EXPECT_FALSE(same_stream(regular, nul));
    for (const int fd : {nul, also_nul, regular}) {
        input_close(fd);
    }
}

}  // namespace
