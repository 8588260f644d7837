#include "message_file.h"

#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kFirstReadCapacity = 64 * 1024;
constexpr int kMaxBackupSuffix = 999;
constexpr char kTempName[] = ".clipsum-XXXXXX";

bool Fail(FileError* error, const char* what, int code)
{
    error->what = what;
    error->code = code;
    return false;
}

// Writes data to a file just created, forces it to the disk and closes it.
bool FillAndClose(FILE* file, const char* data, std::size_t length)
{
    bool written = WriteAll(file, data, length) && FlushToDisk(file);
    int savedErrno = errno;
    bool closed = fclose(file) == 0;
    if (written)
        return closed;
    errno = savedErrno;
    return false;
}

} // namespace

bool ReadWholeFile(const char* path, FileBytes* bytes, FileError* error)
{
    bytes->data = nullptr;
    bytes->length = 0;
    FILE* file = fopen(path, "rb");
    if (!file)
        return Fail(error, "cannot open", errno);

    std::size_t capacity = kFirstReadCapacity;
    char* data = static_cast<char*>(malloc(capacity + 1));
    std::size_t length = 0;
    while (data) {
        if (length == capacity) {
            if (capacity > kMaxMessageBytes) {
                free(data);
                fclose(file);
                return Fail(error, "larger than 512 MiB, not read", 0);
            }
            capacity = capacity > kMaxMessageBytes / 2 ? kMaxMessageBytes + 1 : capacity * 2;
            char* grown = static_cast<char*>(realloc(data, capacity + 1));
            if (!grown) {
                free(data);
                data = nullptr;
                break;
            }
            data = grown;
        }
        length += fread(data + length, 1, capacity - length, file);
        if (length < capacity) {
            if (ferror(file)) {
                int readErrno = errno;
                free(data);
                fclose(file);
                return Fail(error, "cannot read", readErrno);
            }
            break;
        }
    }
    fclose(file);
    if (!data)
        return Fail(error, "not enough memory to read it", 0);
    data[length] = '\0';
    bytes->data = data;
    bytes->length = length;
    return true;
}

void FreeFileBytes(FileBytes* bytes)
{
    free(bytes->data);
    bytes->data = nullptr;
    bytes->length = 0;
}

bool WriteAll(FILE* file, const char* data, std::size_t length)
{
    return fwrite(data, 1, length, file) == length && fflush(file) == 0;
}

bool ReplaceFileContents(const char* path, const char* data, std::size_t length, FileError* error)
{
    // Replace what a symbolic link points to, not the link.
    char* target = ResolveLinks(path);
    if (!target)
        return Fail(error, "cannot find the file behind its path", errno);
    std::size_t directoryLength = DirectoryLength(target);
    char* tempPath = static_cast<char*>(malloc(directoryLength + sizeof kTempName));
    if (!tempPath) {
        free(target);
        return Fail(error, "not enough memory to write it", 0);
    }
    memcpy(tempPath, target, directoryLength);
    memcpy(tempPath + directoryLength, kTempName, sizeof kTempName);

    bool replaced = false;
    FILE* file = CreateUniqueFile(tempPath);
    if (!file) {
        Fail(error, "cannot create a temporary file beside it", errno);
    } else {
        CopyPermissions(target, file);
        if (!FillAndClose(file, data, length))
            Fail(error, "cannot write the new message", errno);
        else if (!ReplaceAtomically(tempPath, target))
            Fail(error, "cannot replace it", errno);
        else
            replaced = true;
        if (!replaced)
            remove(tempPath);
    }
    free(tempPath);
    free(target);
    return replaced;
}

bool WriteBackupCopy(const char* directory, const char* path, const char* data, std::size_t length, char** copyPath,
                     FileError* error)
{
    *copyPath = nullptr;
    const char* name = path + DirectoryLength(path);
    std::size_t directoryLength = strlen(directory);
    bool needsSeparator = DirectoryLength(directory) != directoryLength;
    std::size_t nameLength = strlen(name);
    // directory, separator, name, ".999", NUL
    std::size_t capacity = directoryLength + 1 + nameLength + 5;
    char* candidate = static_cast<char*>(malloc(capacity));
    if (!candidate)
        return Fail(error, "not enough memory for the backup copy", 0);

    FILE* file = nullptr;
    for (int suffix = 0; !file && suffix <= kMaxBackupSuffix; ++suffix) {
        if (suffix == 0)
            snprintf(candidate, capacity, "%s%s%s", directory, needsSeparator ? "/" : "", name);
        else
            snprintf(candidate, capacity, "%s%s%s.%d", directory, needsSeparator ? "/" : "", name, suffix);
        file = CreateNewFile(candidate);
        if (!file && errno != EEXIST) {
            int createErrno = errno;
            free(candidate);
            return Fail(error, "cannot create the backup copy", createErrno);
        }
    }
    if (!file) {
        free(candidate);
        return Fail(error, "cannot create the backup copy: 1000 copies of this name exist", 0);
    }
    CopyPermissions(path, file);
    if (!FillAndClose(file, data, length)) {
        int writeErrno = errno;
        remove(candidate);
        free(candidate);
        return Fail(error, "cannot write the backup copy", writeErrno);
    }
    *copyPath = candidate;
    return true;
}
