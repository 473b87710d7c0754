#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "output.h"

namespace {

// UTF-16 for UTF-8 text, by the system's own conversion.
std::wstring wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    EXPECT_GT(n, 0) << text;
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), n);
    return out;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

// A new, empty file in the test program's own scratch folder.
std::string scratch_name() {
    static const std::string dir = scratch_dir();
    static int count = 0;
    return dir + "\\scratch-" + std::to_string(++count);
}

// A scratch file open for reading and writing, removed when closed.
int scratch_fd() {
    const int fd = _wopen(wide(scratch_name()).c_str(),
                          _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_TEMPORARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    EXPECT_GE(fd, 0);
    return fd;
}

std::string read_back(int fd) {
    std::string text;
    char chunk[65536];
    _lseeki64(fd, 0, SEEK_SET);
    for (int n; (n = _read(fd, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    _close(fd);
    return text;
}

// A scratch file's handle that a child process inherits, for its standard output or error.
HANDLE inheritable_file() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE h = CreateFileW(wide(scratch_name()).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                 CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    return h;
}

std::string read_back(HANDLE h) {
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(h), _O_RDONLY | _O_BINARY);
    return read_back(fd);
}

// arg quoted so that the child's command-line parsing gives it back unchanged.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring out = L"\"";
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        for (; i < arg.size() && arg[i] == L'\\'; ++i) {
            ++backslashes;
        }
        if (i == arg.size()) {
            out.append(2 * backslashes, L'\\');
            break;
        }
        if (arg[i] == L'"') {
            out.append(2 * backslashes + 1, L'\\');
        } else {
            out.append(backslashes, L'\\');
        }
        out.push_back(arg[i]);
    }
    out.push_back(L'"');
    return out;
}

}  // namespace

std::string capture_report(const std::function<void()>& body) {
    const int fd = scratch_fd();
    output_redirect(fd);
    body();
    EXPECT_TRUE(output_flush());
    output_redirect(1);
    const std::string written = read_back(fd);
    // Every line written must end in CR LF; the text is given back with '\n' alone.
    std::string text;
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '\r' && i + 1 < written.size() && written[i + 1] == '\n') {
            continue;
        }
        EXPECT_NE(written[i], '\r') << "lone CR at " << i;
        EXPECT_TRUE(written[i] != '\n' || (i > 0 && written[i - 1] == '\r'))
            << "LF without CR at " << i;
        text.push_back(written[i]);
    }
    return text;
}

std::string native_lines(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out.push_back('\r');
        }
        out.push_back(c);
    }
    return out;
}

std::string scratch_dir() {
    // Removed when the test program ends.
    struct Folders {
        std::vector<std::wstring> paths;
        ~Folders() {
            for (const auto& path : paths) {
                std::error_code ignored;
                std::filesystem::remove_all(path, ignored);
            }
        }
    };
    static Folders folders;
    static int count = 0;
    wchar_t temp[MAX_PATH + 1];
    EXPECT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::wstring path = std::wstring(temp) + L"bvex-test-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++count);
    EXPECT_NE(CreateDirectoryW(path.c_str(), nullptr), 0) << narrow(path);
    folders.paths.push_back(path);
    return narrow(path);
}

void write_file(const std::string& path, const Bytes& bytes) {
    const int fd = _wopen(wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                          _S_IREAD | _S_IWRITE);
    ASSERT_GE(fd, 0) << path;
    write_fd(fd, bytes.data(), bytes.size());
    _close(fd);
}

void write_sparse_file(const std::string& path, std::uint64_t size, std::uint64_t at,
                       unsigned char value) {
    const int fd =
        _wopen(wide(path).c_str(), _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    ASSERT_GE(fd, 0) << path;
    // Without the sparse mark NTFS would write out every zero before the one byte.
    DWORD ignored = 0;
    DeviceIoControl(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), FSCTL_SET_SPARSE, nullptr, 0,
                    nullptr, 0, &ignored, nullptr);
    EXPECT_EQ(_chsize_s(fd, static_cast<long long>(size)), 0) << path;
    EXPECT_EQ(_lseeki64(fd, static_cast<long long>(at), SEEK_SET), static_cast<long long>(at));
    write_fd(fd, &value, 1);
    _close(fd);
}

void make_dir(const std::string& path) {
    ASSERT_NE(CreateDirectoryW(wide(path).c_str(), nullptr), 0) << path;
}

int memory_file(const Bytes& bytes) {
    const int fd = scratch_fd();
    write_fd(fd, bytes.data(), bytes.size());
    _lseeki64(fd, 0, SEEK_SET);
    return fd;
}

void make_pipe(int fds[2]) { ASSERT_EQ(_pipe(fds, 1 << 16, _O_BINARY | _O_NOINHERIT), 0); }

void write_fd(int fd, const unsigned char* bytes, std::size_t size) {
    EXPECT_EQ(_write(fd, bytes, static_cast<unsigned>(size)), static_cast<int>(size));
}

void close_fd(int fd) { _close(fd); }

Outcome run_bvex(const std::vector<std::string>& args, const std::string& dir, Stdout mode,
                 int stdin_fd) {
    std::wstring line = L"bvex";
    for (const auto& a : args) {
        line += L" " + quoted(wide(a));
    }
    const HANDLE out = inheritable_file();
    const HANDLE err = inheritable_file();
    HANDLE child_out = out;
    HANDLE extra = nullptr;  // a handle made only for the child, closed once it has started
    if (mode == Stdout::closed) {
        child_out = nullptr;
    } else if (mode == Stdout::broken_pipe) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE reader = nullptr;
        EXPECT_NE(CreatePipe(&reader, &extra, &inherit, 0), 0);
        CloseHandle(reader);
        child_out = extra;
    } else if (mode == Stdout::read_only) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        extra = CreateFileW(wide(BVEX_PATH).c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                            OPEN_EXISTING, 0, nullptr);
        child_out = extra;
    } else if (mode == Stdout::dev_full) {
        ADD_FAILURE() << "no such device on Windows";
    } else if (mode == Stdout::broken_pipe_sigpipe_ignored) {
        ADD_FAILURE() << "no SIGPIPE on Windows";
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    HANDLE child_in = nullptr;  // an inheritable copy of stdin_fd's handle, for the child
    if (stdin_fd >= 0) {
        const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(stdin_fd));
        EXPECT_NE(DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &child_in, 0,
                                  TRUE, DUPLICATE_SAME_ACCESS),
                  0);
    }
    startup.hStdInput = child_in;
    startup.hStdOutput = child_out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    Outcome outcome{"", "", -1, 0};
    if (CreateProcessW(wide(BVEX_PATH).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       wide(dir).c_str(), &startup, &process) != 0) {
        if (extra != nullptr) {
            CloseHandle(extra);
        }
        // A guard against a hang, not a measure of speed: the 4 GiB pair takes a while.
        if (WaitForSingleObject(process.hProcess, 240000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "bvex still running after 240 s: ended";
            TerminateProcess(process.hProcess, 255);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        outcome.status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ADD_FAILURE() << "cannot start " << BVEX_PATH << ": error " << GetLastError();
        if (extra != nullptr) {
            CloseHandle(extra);
        }
    }
    if (child_in != nullptr) {
        CloseHandle(child_in);
    }
    outcome.out = read_back(out);
    outcome.err = read_back(err);
    return outcome;
}

unsigned char* guarded_buffer(std::size_t which, std::size_t capacity) {
    static const std::size_t page = [] {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        return std::size_t{info.dwPageSize};
    }();
    static const std::size_t span = 256 * 1024 + page;
    static auto* const base = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, 2 * span, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    static const bool guarded = [] {
        DWORD old = 0;
        return base != nullptr &&
               VirtualProtect(base + span - page, page, PAGE_NOACCESS, &old) != 0 &&
               VirtualProtect(base + 2 * span - page, page, PAGE_NOACCESS, &old) != 0;
    }();
    EXPECT_TRUE(guarded);
    return base + (which + 1) * span - page - capacity;
}
