// Black-box tests: start the built greeting as a shell or another program
// would, with chosen arguments, environment and standard streams, and check
// exactly which bytes come out where, and how the process ends.
//
// Usage: greeting_test [gtest options] [LAUNCHER...] PROGRAM
// GREETING_CLOSE_FAILING_DIR names a directory on a file system whose files
// fail when closed; the test that needs one is skipped without it.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace {

// The expected lines come from the build (tests/expected_output.cmake).
constexpr std::string_view kGreeting = GREETING_EXPECTED_FIRST_LINE "\n" GREETING_EXPECTED_SECOND_LINE "\n";
static_assert(kGreeting.size() == 24 + 27);

// The one line a refused write gives: the system's text for the error.
std::string diagnostic(int error)
{
    return std::string(GREETING_EXPECTED_DIAGNOSTIC) + ": " + std::strerror(error) + "\n";
}

// The program under test, after any launcher (valgrind, say). Set once, by main.
std::vector<std::string> g_command;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// Signals this driver ignores, so that a child can inherit them ignored.
constexpr std::array kInheritableSignals = {SIGPIPE, SIGXFSZ};

// A call that sets up a run failed: the test fails, naming the call.
void check(int error, const char* call)
{
    if (error != 0) {
        throw std::system_error(error, std::generic_category(), call);
    }
}

void check_errno(bool succeeded, const char* call)
{
    if (!succeeded) {
        throw std::system_error(errno, std::generic_category(), call);
    }
}

class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&&) = delete;
    Descriptor& operator=(Descriptor&&) = delete;

    [[nodiscard]] int get() const { return descriptor_; }
    void reset(int descriptor = -1)
    {
        if (descriptor_ != -1) {
            close(descriptor_);
        }
        descriptor_ = descriptor;
    }

  private:
    int descriptor_ = -1;
};

class FileActions {
  public:
    FileActions() { check(posix_spawn_file_actions_init(&actions_), "posix_spawn_file_actions_init"); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    FileActions(FileActions&&) = delete;
    FileActions& operator=(FileActions&&) = delete;

    void open(int descriptor, const std::string& path, int flags)
    {
        constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
        check(posix_spawn_file_actions_addopen(&actions_, descriptor, path.c_str(), flags, kOwnerOnly),
              "posix_spawn_file_actions_addopen");
    }
    void close(int descriptor)
    {
        check(posix_spawn_file_actions_addclose(&actions_, descriptor), "posix_spawn_file_actions_addclose");
    }
    void dup2(int from, int onto)
    {
        check(posix_spawn_file_actions_adddup2(&actions_, from, onto), "posix_spawn_file_actions_adddup2");
    }
    [[nodiscard]] const posix_spawn_file_actions_t* get() const { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_{};
};

// The child starts with no signal blocked, and with the inheritable signals
// at their defaults unless asked to keep them ignored.
class SpawnAttributes {
  public:
    explicit SpawnAttributes(const std::vector<int>& keep_ignored)
    {
        check(posix_spawnattr_init(&attributes_), "posix_spawnattr_init");
        sigset_t signals;
        sigemptyset(&signals);
        check(posix_spawnattr_setsigmask(&attributes_, &signals), "posix_spawnattr_setsigmask");
        for (const int signal : kInheritableSignals) {
            if (std::find(keep_ignored.begin(), keep_ignored.end(), signal) == keep_ignored.end()) {
                sigaddset(&signals, signal);
            }
        }
        check(posix_spawnattr_setsigdefault(&attributes_, &signals), "posix_spawnattr_setsigdefault");
        check(posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF),
              "posix_spawnattr_setflags");
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    SpawnAttributes(SpawnAttributes&&) = delete;
    SpawnAttributes& operator=(SpawnAttributes&&) = delete;

    [[nodiscard]] const posix_spawnattr_t* get() const { return &attributes_; }

  private:
    posix_spawnattr_t attributes_{};
};

// posix_spawn cannot give the child a resource limit, so this process takes
// it on just for the spawn, which the child inherits, and then drops it.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(std::optional<rlim_t> bytes)
    {
        check_errno(getrlimit(RLIMIT_FSIZE, &saved_) == 0, "getrlimit");
        if (!bytes) {
            return;
        }
        rlimit limit = saved_;
        limit.rlim_cur = *bytes;
        check_errno(setrlimit(RLIMIT_FSIZE, &limit) == 0, "setrlimit");
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    FileSizeLimit(FileSizeLimit&&) = delete;
    FileSizeLimit& operator=(FileSizeLimit&&) = delete;

  private:
    rlimit saved_{};
};

enum class Stdout { pipe, file, terminal, closed, dev_full, reader_gone, close_failing_file };

struct Launch {
    std::vector<std::string> args;
    std::vector<std::string> env;  // used only when !inherit_env
    bool inherit_env = true;
    bool close_stdin = false;
    Stdout out = Stdout::pipe;
    std::vector<int> ignored_signals;
    std::optional<rlim_t> file_size_limit;
};

struct Outcome {
    std::string out;  // what reached standard output
    std::string err;  // what reached standard error
    int status = -1;  // as waitpid reports it
};

std::string close_failing_dir()
{
    const char* const dir = std::getenv("GREETING_CLOSE_FAILING_DIR");  // NOLINT(concurrency-mt-unsafe)
    return dir == nullptr ? "" : dir;
}

std::string slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Reads what comes through each pipe, as it comes, until every writer has
// closed it.
void read_to_end(const std::vector<std::pair<int, std::string*>>& pipes)
{
    std::vector<pollfd> open;
    open.reserve(pipes.size());
    for (const auto& pipe : pipes) {
        open.push_back({.fd = pipe.first, .events = POLLIN, .revents = 0});
    }
    std::array<char, 4096> buffer{};
    while (!open.empty()) {
        check_errno(poll(open.data(), open.size(), -1) >= 0, "poll");
        for (auto ready = open.begin(); ready != open.end();) {
            if (ready->revents == 0) {
                ++ready;
                continue;
            }
            ssize_t count = read(ready->fd, buffer.data(), buffer.size());
            if (count < 0 && errno == EIO) {
                count = 0;  // a terminal's master side, once no process holds the other side open
            }
            check_errno(count >= 0, "read");
            if (count == 0) {
                ready = open.erase(ready);
                continue;
            }
            const int descriptor = ready->fd;
            const auto& pipe = *std::find_if(pipes.begin(), pipes.end(),
                                             [descriptor](const auto& pipe) { return pipe.first == descriptor; });
            pipe.second->append(buffer.data(), static_cast<std::size_t>(count));
            ++ready;
        }
    }
}

std::vector<char*> c_strings(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (auto& string : strings) {
        pointers.push_back(string.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Two ends: greeting writes into one, this driver reads from the other.
struct Channel {
    Descriptor reader;
    Descriptor writer;
};

void open_pipe(Channel& pipe)
{
    std::array<int, 2> ends{};
    check_errno(pipe2(ends.data(), O_CLOEXEC) == 0, "pipe2");
    pipe.reader.reset(ends[0]);
    pipe.writer.reset(ends[1]);
}

// A pseudo-terminal: to greeting, its side is a terminal (isatty); this
// driver reads from the other side what would reach the screen. Output
// processing is off, so the bytes read are exactly the bytes written (a
// terminal would otherwise show each line feed as CR LF). Its descriptors
// are not close-on-exec: the spawn closes them in the child.
void open_terminal(Channel& terminal)
{
    int screen = -1;
    int terminal_side = -1;
    check_errno(openpty(&screen, &terminal_side, nullptr, nullptr, nullptr) == 0, "openpty");
    terminal.reader.reset(screen);
    terminal.writer.reset(terminal_side);
    termios settings{};
    check_errno(tcgetattr(terminal.writer.get(), &settings) == 0, "tcgetattr");
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    check_errno(tcsetattr(terminal.writer.get(), TCSANOW, &settings) == 0, "tcsetattr");
}

Outcome run(const Launch& launch)
{
    // Standard error always goes to a pipe: under a file-size limit a file
    // would cut the diagnostic short.
    Channel err;
    open_pipe(err);
    std::optional<Channel> out;
    const std::string out_path = launch.out == Stdout::close_failing_file
                                     ? close_failing_dir() + "/greeting.out"
                                     : testing::TempDir() + "greeting_test_" + std::to_string(getpid()) + ".out";

    FileActions files;
    if (launch.close_stdin) {
        files.close(STDIN_FILENO);
    } else {
        files.open(STDIN_FILENO, "/dev/null", O_RDONLY);
    }
    switch (launch.out) {
    case Stdout::terminal:
        open_terminal(out.emplace());
        files.dup2(out->writer.get(), STDOUT_FILENO);
        files.close(out->writer.get());
        files.close(out->reader.get());
        break;
    case Stdout::pipe:
    case Stdout::reader_gone:
        open_pipe(out.emplace());
        if (launch.out == Stdout::reader_gone) {
            out->reader.reset();
        }
        files.dup2(out->writer.get(), STDOUT_FILENO);
        break;
    case Stdout::file:
    case Stdout::close_failing_file:
        files.open(STDOUT_FILENO, out_path, O_WRONLY | O_CREAT | O_TRUNC);
        break;
    case Stdout::closed:
        files.close(STDOUT_FILENO);
        break;
    case Stdout::dev_full:
        files.open(STDOUT_FILENO, "/dev/full", O_WRONLY);
        break;
    }
    files.dup2(err.writer.get(), STDERR_FILENO);
    const SpawnAttributes attributes(launch.ignored_signals);

    std::vector<std::string> argv_strings = g_command;
    argv_strings.insert(argv_strings.end(), launch.args.begin(), launch.args.end());
    std::vector<std::string> env_strings = launch.env;
    auto argv = c_strings(argv_strings);
    auto envp = c_strings(env_strings);

    pid_t pid = -1;
    {
        const FileSizeLimit limit(launch.file_size_limit);
        check(posix_spawnp(&pid, argv.front(), files.get(), attributes.get(), argv.data(),
                           launch.inherit_env ? environ : envp.data()),
              argv.front());
    }

    Outcome outcome;
    err.writer.reset();
    std::vector<std::pair<int, std::string*>> pipes = {{err.reader.get(), &outcome.err}};
    if (out) {
        out->writer.reset();
        if (out->reader.get() != -1) {
            pipes.emplace_back(out->reader.get(), &outcome.out);
        }
    }
    read_to_end(pipes);
    check_errno(waitpid(pid, &outcome.status, 0) == pid, "waitpid");
    if (launch.out == Stdout::file || launch.out == Stdout::close_failing_file) {
        outcome.out = slurp(out_path);
        std::remove(out_path.c_str());  // NOLINT(cert-err33-c): a scratch file left behind harms nothing
    }
    return outcome;
}

void expect_exit_status(const Outcome& outcome, int status)
{
    ASSERT_TRUE(WIFEXITED(outcome.status)) << "wait status " << outcome.status;
    EXPECT_EQ(WEXITSTATUS(outcome.status), status);
}

constexpr auto case_name = [](const auto& info) { return std::string(info.param.name); };

struct Case {
    const char* name;
    Launch launch;
};

class Succeeds : public testing::TestWithParam<Case> {};

TEST_P(Succeeds, WithTheSameTwoLines)
{
    const Outcome outcome = run(GetParam().launch);
    EXPECT_EQ(outcome.out, kGreeting);
    EXPECT_EQ(outcome.err, "");
    expect_exit_status(outcome, 0);
}

// Arguments are accepted and ignored, whatever they look like.
INSTANTIATE_TEST_SUITE_P(Arguments, Succeeds,
                         testing::Values(Case{"none", {}},
                                         Case{"help_and_version", {.args = {"--help", "-h", "--version", "-v"}}},
                                         Case{"empty_strings", {.args = {"", ""}}},
                                         Case{"end_of_options", {.args = {"--", "-"}}},
                                         Case{"printf_directives", {.args = {"%s%n%x", "%%"}}},
                                         Case{"many", {.args = std::vector<std::string>(5000, "x")}}),
                         case_name);

// Where standard output leads, what the environment holds and whether
// standard input is open change nothing: the same 51 bytes, in order.
INSTANTIATE_TEST_SUITE_P(Surroundings, Succeeds,
                         testing::Values(Case{"stdout_pipe", {.out = Stdout::pipe}},
                                         Case{"stdout_regular_file", {.out = Stdout::file}},
                                         Case{"stdout_terminal", {.out = Stdout::terminal}},
                                         Case{"stdin_closed", {.close_stdin = true}},
                                         Case{"environment_empty", {.inherit_env = false}},
                                         Case{"environment_unusual",
                                              {.env = {"LC_ALL=tr_TR.UTF-8", "LANG=ja_JP.eucJP", "POSIXLY_CORRECT=1",
                                                       "GREETING=%s%n", "MALLOC_PERTURB_=165"},
                                               .inherit_env = false}}),
                         case_name);

// A refused write is reported on standard error, in one line, and fails the
// run; what was written before the refusal stays written.
struct RefusedCase {
    const char* name;
    Launch launch;
    int error;  // whose text the diagnostic gives
    std::string_view written;
};

class RefusedWrites : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedWrites, AreReportedAndFail)
{
    const Outcome outcome = run(GetParam().launch);
    EXPECT_EQ(outcome.err, diagnostic(GetParam().error));
    EXPECT_EQ(outcome.out, GetParam().written);
    expect_exit_status(outcome, 1);
}

constexpr rlim_t kFileSizeLimit = 30;

INSTANTIATE_TEST_SUITE_P(
    Greeting, RefusedWrites,
    testing::Values(
        RefusedCase{"full_device", {.out = Stdout::dev_full}, ENOSPC},
        RefusedCase{"stdout_closed", {.out = Stdout::closed}, EBADF},
        RefusedCase{"reader_gone_sigpipe_ignored", {.out = Stdout::reader_gone, .ignored_signals = {SIGPIPE}}, EPIPE},
        // Both lines leave in one write, cut short by the limit: the rest is
        // refused. Were std::cout's line still held in a buffer of its own
        // it would go out only at exit, where no one looks.
        RefusedCase{"file_size_limit",
                    {.out = Stdout::file, .ignored_signals = {SIGXFSZ}, .file_size_limit = kFileSizeLimit},
                    EFBIG,
                    kGreeting.substr(0, kFileSizeLimit)}),
    case_name);

// With SIGPIPE at its default, a gone reader ends the program by that signal,
// silently, as Unix filters do.
TEST(Greeting, GoneReaderEndsItBySigpipe)
{
    const Outcome outcome = run({.out = Stdout::reader_gone});
    EXPECT_EQ(outcome.err, "");
    ASSERT_TRUE(WIFSIGNALED(outcome.status)) << "wait status " << outcome.status;
    EXPECT_EQ(WTERMSIG(outcome.status), SIGPIPE);
}

// Network and user-space file systems may take every write and refuse the
// data only when the file is closed. Both lines reach the file system; the
// close's refusal must still fail the run.
TEST(CloseFailing, IsReportedAndFails)
{
    const std::string dir = close_failing_dir();
    struct statfs file_system {};
    if (dir.empty() || statfs(dir.c_str(), &file_system) != 0 || file_system.f_type != FUSE_SUPER_MAGIC) {
        GTEST_SKIP() << "no close-failing file system is mounted at '" << dir
                     << "' (GREETING_CLOSE_FAILING_DIR); the test close_failing_fs.mount says why";
    }

    const Outcome outcome = run({.out = Stdout::close_failing_file});
    EXPECT_EQ(outcome.err, diagnostic(EIO));
    EXPECT_EQ(outcome.out, kGreeting);
    expect_exit_status(outcome, 1);
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const std::span arguments(argv, static_cast<std::size_t>(argc));
    if (arguments.size() < 2 && !GTEST_FLAG_GET(list_tests)) {
        std::cerr << "usage: " << arguments[0] << " [gtest options] [LAUNCHER...] PROGRAM\n";
        return 2;
    }
    g_command.assign(arguments.begin() + 1, arguments.end());
    for (const int signal : kInheritableSignals) {
        // NOLINTNEXTLINE(cert-err33-c): a signal that stays at its default fails the tests that need it ignored
        std::signal(signal, SIG_IGN);
    }
    return RUN_ALL_TESTS();
}
