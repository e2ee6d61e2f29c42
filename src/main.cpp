// greeting: greets once, in two lines, and ends. Each line names the output
// route that writes it: the first goes through C's printf, the second through
// C++'s std::cout.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string_view>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// Says on standard error that standard output refused a write, and why:
// "greeting: write error: REASON". Put together on the stack, as memory may be
// what ran out, it leaves in one write, so no other writer can split it. If
// standard error fails too, there is no one left to tell.
void report_write_error(int error)
{
    constexpr std::size_t longest = 256;
    std::array<char, longest> line{};
    char* const last = &line.back();  // kept for the line feed
    char* end = line.data();
    // A reason too long is cut short; none comes near (glibc's longest is 49).
    // GCOVR_EXCL_BR_START: no reason is cut short
    const auto append = [&end, last](std::string_view text) {
        const auto room = static_cast<std::size_t>(std::distance(end, last));
        end = std::copy_n(text.begin(), std::min(text.size(), room), end);
    };
    // GCOVR_EXCL_BR_STOP
    append("greeting: write error");
    // msvcrt, unlike glibc and wasi-libc, sets no errno when WriteFile takes
    // only part of a write; strerror(0) would say "Success".
    if (error != 0) {  // GCOVR_EXCL_BR_LINE: glibc always sets errno; msvcrt's case is in the Windows table
        append(": ");
        append(std::strerror(error));
    }
    *end = '\n';
    end = std::next(end);
    (void)std::fwrite(line.data(), 1, static_cast<std::size_t>(std::distance(line.data(), end)), stderr);
}

}  // namespace

int main()
{
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg): printf is the route this line shows.
    std::printf("Hello Belmorax, C style\n");
    std::cout << "Hello Belmorax, C++ style \n";

    // std::cout stays synchronised with stdio, so both lines sit in stdout's
    // buffer, in order. Flushing here rather than at exit lets a refused write
    // be reported instead of lost; stdout's error flag tells of any write
    // either line could not make.
    bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;

    // Network and user-space file systems may refuse a write only at close,
    // so close the descriptor and look. Not the FILE: std::cout flushes it
    // once more at exit, which, empty, touches nothing.
#ifdef _WIN32
    written = written && _close(_fileno(stdout)) == 0;
#else
    written = written && close(STDOUT_FILENO) == 0;
#endif

    if (!written) {
        report_write_error(errno);
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
