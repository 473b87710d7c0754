#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "output.h"

namespace {

// How a test starts bvex: the program to run and the words before bvex's arguments. A
// cross-built bvex runs under the emulator, which takes bvex's path first.
#ifdef BVEX_EMULATOR
constexpr const char* EXEC_PROGRAM = BVEX_EMULATOR;
constexpr const char* EXEC_LEAD[] = {BVEX_EMULATOR, BVEX_PATH};
#else
constexpr const char* EXEC_PROGRAM = BVEX_PATH;
constexpr const char* EXEC_LEAD[] = {"bvex"};
#endif

// The folder for scratch files: $TMPDIR, or /tmp.
std::string scratch_base() {
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && *base != '\0' ? base : "/tmp";
}

// An unnamed scratch file, open for reading and writing.
int scratch_fd() {
    std::string name = scratch_base() + "/bvex-file-XXXXXX";
    const int fd = mkstemp(name.data());
    EXPECT_GE(fd, 0) << name;
    unlink(name.c_str());
    return fd;
}

std::string read_back(int fd) {
    std::string text;
    char chunk[65536];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

}  // namespace

std::string capture_report(const std::function<void()>& body) {
    const int fd = scratch_fd();
    output_redirect(fd);
    body();
    EXPECT_TRUE(output_flush());
    output_redirect(STDOUT_FILENO);
    return read_back(fd);
}

std::string native_lines(const std::string& text) { return text; }

std::string scratch_dir() {
    // Removed when the test program ends (forked children leave through _exit).
    struct Folders {
        std::vector<std::string> paths;
        ~Folders() {
            for (const auto& path : paths) {
                std::error_code ignored;
                std::filesystem::remove_all(path, ignored);
            }
        }
    };
    static Folders folders;
    std::string name = scratch_base() + "/bvex-test-XXXXXX";
    EXPECT_NE(mkdtemp(name.data()), nullptr) << name;
    folders.paths.push_back(name);
    return name;
}

void write_file(const std::string& path, const Bytes& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

void write_sparse_file(const std::string& path, std::uint64_t size, std::uint64_t at,
                       unsigned char value) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0) << path;
    EXPECT_EQ(pwrite(fd, &value, 1, static_cast<off_t>(at)), 1) << path;
    close(fd);
}

void make_dir(const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

int memory_file(const Bytes& bytes) {
    const int fd = scratch_fd();
    write_fd(fd, bytes.data(), bytes.size());
    lseek(fd, 0, SEEK_SET);
    return fd;
}

void make_pipe(int fds[2]) { ASSERT_EQ(pipe(fds), 0); }

void write_fd(int fd, const unsigned char* bytes, std::size_t size) {
    EXPECT_EQ(write(fd, bytes, size), static_cast<ssize_t>(size));
}

void close_fd(int fd) { close(fd); }

// The steps by which a child of run_bvex becomes bvex. When one fails, the child ends with
// status SETUP_FAILED + the step, which bvex never gives, and the test fails saying which.
enum SetupStep { to_stdout, to_stderr, to_stdin, to_dir, to_bvex, setup_steps };
const char* const SETUP_STEP_NAMES[setup_steps] = {"dup2 onto standard output",
                                                   "dup2 onto standard error",
                                                   "dup2 onto standard input", "chdir", "exec"};
constexpr int SETUP_FAILED = 120;

Outcome run_bvex(const std::vector<std::string>& args, const std::string& dir, Stdout mode,
                 int stdin_fd) {
    // Everything the child needs is made before fork: after it, the child only calls what is
    // safe while other threads of the test program may hold locks.
    std::vector<char*> argv;
    for (const char* word : EXEC_LEAD) {
        argv.push_back(const_cast<char*>(word));
    }
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const int out = scratch_fd();
    const int err = scratch_fd();
    int child_out = out;
    int extra = -1;  // a descriptor made only for the child
    if (mode == Stdout::dev_full) {
        child_out = extra = open("/dev/full", O_WRONLY);
    } else if (mode == Stdout::read_only) {
        child_out = extra = open(BVEX_PATH, O_RDONLY);
    } else if (mode == Stdout::broken_pipe || mode == Stdout::broken_pipe_sigpipe_ignored) {
        int broken[2] = {-1, -1};
        EXPECT_EQ(pipe(broken), 0);
        close(broken[0]);
        child_out = extra = broken[1];
    }
    EXPECT_GE(child_out, 0) << "no standard output for the child";
    const pid_t child = fork();
    if (child == 0) {
        if (mode == Stdout::closed) {
            close(STDOUT_FILENO);
        } else if (dup2(child_out, STDOUT_FILENO) < 0) {
            _exit(SETUP_FAILED + to_stdout);
        }
        if (dup2(err, STDERR_FILENO) < 0) {
            _exit(SETUP_FAILED + to_stderr);
        }
        if (stdin_fd >= 0 && dup2(stdin_fd, STDIN_FILENO) < 0) {
            _exit(SETUP_FAILED + to_stdin);
        }
        signal(SIGPIPE, mode == Stdout::broken_pipe_sigpipe_ignored ? SIG_IGN : SIG_DFL);
        alarm(240);  // kept across exec: a guard against a hang, not a measure of speed
        if (chdir(dir.c_str()) != 0) {
            _exit(SETUP_FAILED + to_dir);
        }
        execv(EXEC_PROGRAM, argv.data());
        _exit(SETUP_FAILED + to_bvex);
    }
    EXPECT_GT(child, 0) << "fork failed";
    if (extra >= 0) {
        close(extra);
    }
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    Outcome outcome{read_back(out), read_back(err), -1, 0};
    if (WIFEXITED(wstatus)) {
        outcome.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        outcome.signal = WTERMSIG(wstatus);
    }
    const int step = outcome.status - SETUP_FAILED;
    if (step >= 0 && step < setup_steps) {
        ADD_FAILURE() << "the child could not become bvex: " << SETUP_STEP_NAMES[step] << " failed";
    }
    return outcome;
}

unsigned char* guarded_buffer(std::size_t which, std::size_t capacity) {
    static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    static const std::size_t span = 256 * 1024 + page;
    static auto* const base = static_cast<unsigned char*>(
        mmap(nullptr, 2 * span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    static const bool guarded = base != MAP_FAILED &&
                                mprotect(base + span - page, page, PROT_NONE) == 0 &&
                                mprotect(base + 2 * span - page, page, PROT_NONE) == 0;
    EXPECT_TRUE(guarded);
    return base + (which + 1) * span - page - capacity;
}
