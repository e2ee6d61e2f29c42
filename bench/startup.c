/* Times program start-up: starts each program directly (no shell), standard
 * output on /dev/null, in alternating rounds, and prints for each the median
 * over the rounds of the wall time per start, and the median peak resident
 * set size of one run, as wait4 reports it (the figure GNU time prints).
 *
 * Usage: startup ROUNDS STARTS_PER_ROUND PROGRAM...
 * Output: one line per program: PROGRAM MICROSECONDS_PER_START PEAK_RSS_KB */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

static int compare_doubles(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static double median(double* values, int count)
{
    qsort(values, (size_t)count, sizeof *values, compare_doubles);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

static double now_us(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

/* Starts the program once, waits for it; returns its peak RSS in kB. */
static long start_once(char* program, posix_spawn_file_actions_t* files)
{
    char* argv[] = {program, NULL};
    pid_t pid;
    int status;
    struct rusage usage;
    int error = posix_spawn(&pid, program, files, NULL, argv, environ);
    if (error) {
        fprintf(stderr, "startup: cannot start %s: %s\n", program, strerror(error));
        exit(1);
    }
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status)) {
        fprintf(stderr, "startup: %s failed\n", program);
        exit(1);
    }
    return usage.ru_maxrss;
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: startup ROUNDS STARTS_PER_ROUND PROGRAM...\n");
        return 2;
    }
    int rounds = atoi(argv[1]), starts = atoi(argv[2]), programs = argc - 3;
    if (rounds < 1 || starts < 1) {
        fprintf(stderr, "startup: ROUNDS and STARTS_PER_ROUND must be positive\n");
        return 2;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);

    double* wall = calloc((size_t)(rounds * programs), sizeof *wall);
    double* rss = calloc((size_t)(rounds * starts * programs), sizeof *rss);
    if (!wall || !rss) return 1;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < programs; ++i) {
            /* Alternate the order so neither program always goes first. */
            int p = round % 2 ? programs - 1 - i : i;
            double begin = now_us();
            for (int s = 0; s < starts; ++s)
                rss[(p * rounds + round) * starts + s] = (double)start_once(argv[3 + p], &files);
            wall[p * rounds + round] = (now_us() - begin) / starts;
        }
    }
    for (int p = 0; p < programs; ++p)
        printf("%s %.1f %.0f\n", argv[3 + p], median(wall + p * rounds, rounds),
               median(rss + p * rounds * starts, rounds * starts));
    return 0;
}
