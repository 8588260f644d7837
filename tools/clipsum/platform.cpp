#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

bool SetStdoutBinary()
{
    return _setmode(_fileno(stdout), _O_BINARY) != -1;
}

// Paths are in the ANSI code page, on our users' machines Shift-JIS, whose
// trail bytes include the backslash: walk forward over whole characters.
std::size_t DirectoryLength(const char* path)
{
    std::size_t length = 0;
    for (std::size_t i = 0; path[i] != '\0'; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && path[i + 1] != '\0')
            ++i;
        else if (path[i] == '\\' || path[i] == '/' || path[i] == ':')
            length = i + 1;
    }
    return length;
}

FILE* CreateUniqueFile(char* pathTemplate)
{
    int fd = mkstemp(pathTemplate);
    if (fd < 0)
        return nullptr;
    _setmode(fd, _O_BINARY);
    FILE* file = _fdopen(fd, "wb");
    if (!file)
        _close(fd);
    return file;
}

FILE* CreateNewFile(const char* path)
{
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    FILE* file = _fdopen(fd, "wb");
    if (!file)
        _close(fd);
    return file;
}

void CopyPermissions(const char*, FILE*)
{
}

char* ResolveLinks(const char* path)
{
    return _strdup(path);
}

bool FlushToDisk(FILE* file)
{
    return fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

static int ErrnoFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

bool ReplaceAtomically(const char* from, const char* to)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = ErrnoFromWin32(GetLastError());
    return false;
}

#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool SetStdoutBinary()
{
    return true;
}

std::size_t DirectoryLength(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash ? static_cast<std::size_t>(slash - path) + 1 : 0;
}

FILE* CreateUniqueFile(char* pathTemplate)
{
    int fd = mkstemp(pathTemplate);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (!file)
        close(fd);
    return file;
}

FILE* CreateNewFile(const char* path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (!file)
        close(fd);
    return file;
}

void CopyPermissions(const char* sourcePath, FILE* file)
{
    struct stat source;
    if (stat(sourcePath, &source) == 0)
        fchmod(fileno(file), source.st_mode & 07777);
}

char* ResolveLinks(const char* path)
{
    return realpath(path, nullptr);
}

bool FlushToDisk(FILE* file)
{
    return fflush(file) == 0 && fsync(fileno(file)) == 0;
}

// The rename itself is durable only once the directory that holds it is synced.
static void SyncDirectoryOf(const char* path)
{
    std::size_t length = DirectoryLength(path);
    if (length == 0) {
        path = ".";
        length = 1;
    }
    char* directory = static_cast<char*>(malloc(length + 1));
    if (!directory)
        return;
    memcpy(directory, path, length);
    directory[length] = '\0';
    int fd = open(directory, O_RDONLY | O_CLOEXEC);
    free(directory);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

bool ReplaceAtomically(const char* from, const char* to)
{
    if (rename(from, to) != 0)
        return false;
    SyncDirectoryOf(to);
    return true;
}
#endif
