/* The limit: reads every byte of each file, counts its lines, and writes the
   size of what it read, as a program that only passes the bytes through would.
   Usage: limit FILE|DIRECTORY... (a directory: every file in it). */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char buffer[256 * 1024];
static unsigned long long lines;
static unsigned long long bytes;

static int ReadFile(const char* path)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return 0;
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        for (const char* at = buffer; (at = memchr(at, '\n', (size_t)(buffer + got - at))) != NULL; ++at)
            ++lines;
        bytes += (unsigned long long)got;
    }
    close(fd);
    return got == 0;
}

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        DIR* directory = opendir(argv[i]);
        if (!directory) {
            if (!ReadFile(argv[i]))
                return 1;
            continue;
        }
        char path[4096];
        for (struct dirent* entry; (entry = readdir(directory)) != NULL;) {
            if (entry->d_name[0] == '.')
                continue;
            snprintf(path, sizeof path, "%s/%s", argv[i], entry->d_name);
            if (!ReadFile(path))
                return 1;
        }
        closedir(directory);
    }
    printf("%llu bytes, %llu lines\n", bytes, lines);
    return 0;
}
