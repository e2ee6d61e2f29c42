// Black-box tests: start the built greeting as a shell or another program
// would, with chosen arguments, environment and standard streams, and check
// exactly which bytes come out where, and how the process ends.
//
// Usage: greeting_test [gtest options] [LAUNCHER...] PROGRAM

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr char kGreeting[] = "Hello Belmorax, C style\nHello Belmorax, C++ style \n";
static_assert(sizeof kGreeting - 1 == 51, "the greeting is 51 bytes");

// The program under test, after any launcher (valgrind, say).
std::vector<std::string> g_command;

enum class Stdout { pipe, file, closed, dev_full, reader_gone };

struct Launch {
    std::vector<std::string> args;
    std::vector<std::string> env;  // used only when !inherit_env
    bool inherit_env = true;
    bool close_stdin = false;
    Stdout out = Stdout::pipe;
    bool ignore_sigpipe = false;
};

struct Outcome {
    std::string out;  // what reached standard output
    std::string err;  // what reached standard error
    int status = -1;  // as waitpid reports it
};

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<char*> c_strings(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

Outcome run(Launch launch)
{
    Outcome outcome;
    const std::string scratch = testing::TempDir() + "greeting_test_" + std::to_string(getpid());
    const std::string out_path = scratch + ".out";
    const std::string err_path = scratch + ".err";

    int out_pipe[2] = {-1, -1};
    if (launch.out == Stdout::pipe || launch.out == Stdout::reader_gone) {
        if (pipe2(out_pipe, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe2 failed";
        if (launch.out == Stdout::reader_gone) {
            close(out_pipe[0]);
            out_pipe[0] = -1;
        }
    }

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (launch.close_stdin)
        posix_spawn_file_actions_addclose(&files, 0);
    else
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    switch (launch.out) {
    case Stdout::pipe:
    case Stdout::reader_gone:
        posix_spawn_file_actions_adddup2(&files, out_pipe[1], 1);
        break;
    case Stdout::file:
        posix_spawn_file_actions_addopen(&files, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        break;
    case Stdout::closed:
        posix_spawn_file_actions_addclose(&files, 1);
        break;
    case Stdout::dev_full:
        posix_spawn_file_actions_addopen(&files, 1, "/dev/full", O_WRONLY, 0);
        break;
    }
    posix_spawn_file_actions_addopen(&files, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    // This driver ignores SIGPIPE; the child gets the default unless asked.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    if (!launch.ignore_sigpipe) sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> argv_strings = g_command;
    argv_strings.insert(argv_strings.end(), launch.args.begin(), launch.args.end());
    auto argv = c_strings(argv_strings);
    auto envp = c_strings(launch.env);

    pid_t pid = -1;
    const int spawned =
        posix_spawnp(&pid, argv[0], &files, &attributes, argv.data(), launch.inherit_env ? environ : envp.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (out_pipe[1] != -1) close(out_pipe[1]);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
        return outcome;
    }

    if (out_pipe[0] != -1) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(out_pipe[0], buffer, sizeof buffer)) > 0) outcome.out.append(buffer, n);
        close(out_pipe[0]);
    }
    if (waitpid(pid, &outcome.status, 0) != pid) ADD_FAILURE() << "waitpid failed";
    if (launch.out == Stdout::file) outcome.out = slurp(out_path);
    outcome.err = slurp(err_path);
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return outcome;
}

void expect_greeting(const Outcome& outcome)
{
    EXPECT_EQ(outcome.out, kGreeting);
    EXPECT_EQ(outcome.err, "");
    ASSERT_TRUE(WIFEXITED(outcome.status)) << "wait status " << outcome.status;
    EXPECT_EQ(WEXITSTATUS(outcome.status), 0);
}

constexpr auto case_name = [](const auto& info) { return std::string(info.param.name); };

struct Case {
    const char* name;
    Launch launch;
};

class Succeeds : public testing::TestWithParam<Case> {};

TEST_P(Succeeds, WithTheSameTwoLines)
{
    expect_greeting(run(GetParam().launch));
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
                                         Case{"stdin_closed", {.close_stdin = true}},
                                         Case{"environment_empty", {.inherit_env = false}},
                                         Case{"environment_unusual",
                                              {.env = {"LC_ALL=tr_TR.UTF-8", "LANG=ja_JP.eucJP", "POSIXLY_CORRECT=1",
                                                       "GREETING=%s%n", "MALLOC_PERTURB_=165"},
                                               .inherit_env = false}}),
                         case_name);

// A refused write is reported on standard error, in one line, and fails the run.
struct RefusedCase {
    const char* name;
    Launch launch;
    const char* diagnostic;
};

class RefusedWrites : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedWrites, AreReportedAndFail)
{
    const Outcome outcome = run(GetParam().launch);
    EXPECT_EQ(outcome.err, GetParam().diagnostic);
    ASSERT_TRUE(WIFEXITED(outcome.status)) << "wait status " << outcome.status;
    EXPECT_EQ(WEXITSTATUS(outcome.status), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Greeting, RefusedWrites,
    testing::Values(
        RefusedCase{"full_device", {.out = Stdout::dev_full}, "greeting: write error: No space left on device\n"},
        RefusedCase{"stdout_closed", {.out = Stdout::closed}, "greeting: write error: Bad file descriptor\n"},
        RefusedCase{"reader_gone_sigpipe_ignored",
                    {.out = Stdout::reader_gone, .ignore_sigpipe = true},
                    "greeting: write error: Broken pipe\n"}),
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

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc < 2 && !GTEST_FLAG_GET(list_tests)) {
        std::fprintf(stderr, "usage: %s [gtest options] [LAUNCHER...] PROGRAM\n", argv[0]);
        return 2;
    }
    g_command.assign(argv + 1, argv + argc);
    // Ignored here so that a child can inherit it ignored; see run().
    signal(SIGPIPE, SIG_IGN);
    return RUN_ALL_TESTS();
}
