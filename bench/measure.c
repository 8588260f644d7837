/* Runs a program as a process of its own, its output thrown away, and prints
   its wall time in seconds, its peak resident memory in bytes (wait4) and its
   exit status. A launcher this small keeps the peak its own: a child forked
   from a large process counts that process's memory until it execs.
   Usage: measure PROGRAM ARGUMENT... */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0)
            _exit(127);
        execv(argv[1], argv + 1);
        _exit(127);
    }
    if (child < 0)
        return 2;
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) < 0)
        return 2;
    clock_gettime(CLOCK_MONOTONIC, &end);
    double seconds = (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
    printf("%.6f %lld %d\n", seconds, (long long)usage.ru_maxrss * 1024,
           WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}
