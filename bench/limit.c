/* The limit: reads every byte of each file, counts its lines, and writes the
   size of what it read, as a program that only passes the bytes through would.
   Usage: limit [-j N] FILE|DIRECTORY... (a directory: every file in it, each
   of N threads taking every Nth file). */
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define MAX_THREADS 64

struct Worker {
    pthread_t thread;
    char** paths;
    size_t count;
    size_t first;
    size_t step;
    unsigned long long lines;
    unsigned long long bytes;
    int failed;
};

static int ReadFile(const char* path, char* buffer, size_t size, unsigned long long* lines, unsigned long long* bytes)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return 0;
    ssize_t got;
    while ((got = read(fd, buffer, size)) > 0) {
        for (const char* at = buffer; (at = memchr(at, '\n', (size_t)(buffer + got - at))) != NULL; ++at)
            ++*lines;
        *bytes += (unsigned long long)got;
    }
    close(fd);
    return got == 0;
}

static void* Work(void* argument)
{
    struct Worker* worker = argument;
    size_t size = 256 * 1024;
    char* buffer = malloc(size);
    if (!buffer) {
        worker->failed = 1;
        return NULL;
    }
    for (size_t i = worker->first; i < worker->count && !worker->failed; i += worker->step)
        worker->failed = !ReadFile(worker->paths[i], buffer, size, &worker->lines, &worker->bytes);
    free(buffer);
    return NULL;
}

static int Add(char*** paths, size_t* count, size_t* capacity, const char* path)
{
    if (*count == *capacity) {
        *capacity = *capacity ? *capacity * 2 : 1024;
        char** grown = realloc(*paths, *capacity * sizeof **paths);
        if (!grown)
            return 0;
        *paths = grown;
    }
    return ((*paths)[(*count)++] = strdup(path)) != NULL;
}

int main(int argc, char** argv)
{
    int first = 1;
    size_t threads = 1;
    if (argc > 2 && strcmp(argv[1], "-j") == 0) {
        threads = (size_t)atoi(argv[2]);
        first = 3;
    }
    if (threads < 1 || threads > MAX_THREADS)
        return 2;
    char** paths = NULL;
    size_t count = 0, capacity = 0;
    for (int i = first; i < argc; ++i) {
        DIR* directory = opendir(argv[i]);
        if (!directory) {
            if (!Add(&paths, &count, &capacity, argv[i]))
                return 1;
            continue;
        }
        char path[4096];
        for (struct dirent* entry; (entry = readdir(directory)) != NULL;) {
            if (entry->d_name[0] == '.')
                continue;
            snprintf(path, sizeof path, "%s/%s", argv[i], entry->d_name);
            if (!Add(&paths, &count, &capacity, path))
                return 1;
        }
        closedir(directory);
    }
    struct Worker workers[MAX_THREADS];
    memset(workers, 0, sizeof workers);
    for (size_t t = 0; t < threads; ++t) {
        workers[t] = (struct Worker){0, paths, count, t, threads, 0, 0, 0};
        if (pthread_create(&workers[t].thread, NULL, Work, &workers[t]) != 0)
            return 1;
    }
    unsigned long long lines = 0, bytes = 0;
    int failed = 0;
    for (size_t t = 0; t < threads; ++t) {
        pthread_join(workers[t].thread, NULL);
        lines += workers[t].lines;
        bytes += workers[t].bytes;
        failed |= workers[t].failed;
    }
    printf("%llu bytes, %llu lines\n", bytes, lines);
    return failed;
}
