// Faults of Microsoft's msvcrt.dll that Wine never shows, injected at link
// time into a test build of greeting's own objects (-Wl,--wrap), for the
// Windows table. GREETING_INJECT names the one to inject:
// - short_write: WriteFile took only part of a line. msvcrt's _write then
//   returns the short count without setting errno, and fwrite, which
//   greeting's second line goes through (stdout is unbuffered there), marks
//   the stream failed and returns what was taken: a reason-less refusal.
// - close_fails: closing the handle failed, as a network share's may once
//   its write cache meets a full disk; _close maps that to errno.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <io.h>

// greeting's call of _close goes through its import's pointer, which the
// wrapper stands in for; 32-bit C names carry a leading underscore.
#ifdef __i386__
extern "C" int (*__real__imp___close)(int);
#define REAL_CLOSE __real__imp___close
#else
extern "C" int (*__real___imp__close)(int);
#define REAL_CLOSE __real___imp__close
#endif

namespace {

bool injecting(const char* fault)
{
    const char* named = std::getenv("GREETING_INJECT");
    return named != nullptr && std::strcmp(named, fault) == 0;
}

// The handle is gone all the same, as msvcrt frees it whatever CloseHandle says.
int close_fails(int descriptor)
{
    const int closed = REAL_CLOSE(descriptor);
    if (!injecting("close_fails")) {
        return closed;
    }
    errno = ENOSPC;
    return -1;
}

}  // namespace

extern "C" {

size_t __real_fwrite(const void* data, size_t size, size_t count, FILE* stream);

size_t __wrap_fwrite(const void* data, size_t size, size_t count, FILE* stream)
{
    static bool injected = false;
    if (stream != stdout || injected || size == 0 || !injecting("short_write")) {
        return __real_fwrite(data, size, count, stream);
    }
    injected = true;
    const size_t taken = __real_fwrite(data, 1, size * count / 2, stream);
    stream->_flag |= _IOERR;
    return taken / size;
}

#ifdef __i386__
int (*__wrap__imp___close)(int) = close_fails;
#else
int (*__wrap___imp__close)(int) = close_fails;
#endif
}
