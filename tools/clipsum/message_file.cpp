#include "message_file.h"

#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kFirstReadCapacity = 64 * 1024;
constexpr int kMaxBackupSuffix = 999;

bool Fail(FileError* error, const char* what, int code)
{
    error->what = what;
    error->code = code;
    return false;
}

const char* NotRegularReason(FileKind kind)
{
    switch (kind) {
    case FileKind::Directory:
        return "is a directory";
    case FileKind::NamedPipe:
        return "not a regular file (named pipe)";
    case FileKind::Device:
        return "not a regular file (device)";
    case FileKind::Regular:
    case FileKind::Other:
        break;
    }
    return "not a regular file";
}

// Writes data to a new temporary file in directory with the original's facts
// (strict: all of them or failure) and forces it to the disk.
bool WriteTemp(const char* directory, const Content& content, const FileFacts& facts, const char* original, bool strict,
               TempFile* temp, FileError* error)
{
    if (!CreateTempFile(directory, temp))
        return Fail(error, "cannot create a temporary file", errno);
    bool written = content.data ? WriteAll(temp->file, content.data, content.length)
                                : CopyFileRange(content.file, 0, content.fileLength, temp->file);
    written = written || Fail(error, "cannot write the new file", errno);
    written = written && CopyFacts(temp, facts, original, strict, error);
    written = written && (FlushTemp(temp) || Fail(error, "cannot force the new file to the disk", errno));
    if (!written)
        DiscardTemp(temp);
    return written;
}

} // namespace

char* DirectoryOf(const char* path)
{
    std::size_t length = DirectoryLength(path);
    char* directory = static_cast<char*>(malloc(length + 1));
    if (directory) {
        memcpy(directory, path, length);
        directory[length] = '\0';
    }
    return directory;
}

FILE* OpenMessageFile(const char* path, FileFacts* facts, FileError* error, bool listedRegular)
{
    FILE* file = listedRegular ? OpenListedRegularFile(path, facts) : OpenRegularFile(path, facts);
    if (!file && errno == 0)
        Fail(error, NotRegularReason(facts->kind), 0);
    else if (!file)
        Fail(error, "cannot open", errno);
    return file;
}

bool ReadWholeFile(const char* path, FileBytes* bytes, FileFacts* facts, FileError* error)
{
    bytes->data = nullptr;
    bytes->length = 0;
    FILE* file = OpenMessageFile(path, facts, error);
    return file && ReadOpenFile(file, bytes, error);
}

bool ReadOpenFile(FILE* file, FileBytes* bytes, FileError* error)
{
    bytes->data = nullptr;
    bytes->length = 0;

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

bool CopyFileRange(FILE* from, unsigned long long offset, unsigned long long length, FILE* to)
{
    static constexpr std::size_t kCopyBlock = 256 * 1024;
    if (!SeekFile(from, offset))
        return false;
    char* block = static_cast<char*>(malloc(kCopyBlock));
    if (!block) {
        errno = ENOMEM;
        return false;
    }
    bool copied = true;
    while (copied && length > 0) {
        std::size_t want = length < kCopyBlock ? static_cast<std::size_t>(length) : kCopyBlock;
        std::size_t got = fread(block, 1, want, from);
        if (got != want && !ferror(from))
            errno = EIO; // the file is shorter than it was
        copied = got == want && fwrite(block, 1, got, to) == got;
        length -= got;
    }
    free(block);
    return copied && fflush(to) == 0;
}

void EndSweep(TempSweep* sweep)
{
    free(sweep->lastDirectory);
    sweep->lastDirectory = nullptr;
}

void SweepDirectory(TempSweep* sweep, const char* directory)
{
    if (sweep->lastDirectory && strcmp(sweep->lastDirectory, directory) == 0)
        return;
    RemoveStaleTempFiles(directory);
    char* copy = static_cast<char*>(malloc(strlen(directory) + 1));
    if (copy)
        strcpy(copy, directory);
    free(sweep->lastDirectory);
    sweep->lastDirectory = copy;
}

bool ReplaceFileContents(const char* path, const FileFacts& facts, const Content& content, TempSweep* sweep,
                         FileError* error)
{
    // Replace what a symbolic link points to, not the link.
    char* target = ResolveLinks(path);
    if (!target)
        return Fail(error, "cannot find the file behind its path", errno);
    char* directory = DirectoryOf(target);
    if (!directory) {
        free(target);
        return Fail(error, "not enough memory to write it", 0);
    }
    SweepDirectory(sweep, directory);

    TempFile temp;
    bool replaced = WriteTemp(directory, content, facts, target, true, &temp, error);
    // Written to (a flag set by a mail client, say) or replaced since it was read: its new form would lose that.
    if (replaced && !PathUnchanged(target, facts)) {
        replaced = Fail(error, "changed while it was being stripped; left as it is", 0);
        DiscardTemp(&temp);
    } else if (replaced && !ReplaceWithTemp(&temp, target, facts)) {
        replaced = Fail(error, "cannot replace it", errno);
        DiscardTemp(&temp);
    }
    free(directory);
    free(target);
    return replaced;
}

bool CheckBackupDirectory(const char* directory, FileError* error)
{
    FileFacts facts;
    FILE* file = OpenRegularFile(directory, &facts);
    if (file) {
        fclose(file);
        return Fail(error, "not a directory", 0);
    }
    if (errno != 0)
        return Fail(error, "cannot use it", errno);
    if (facts.kind != FileKind::Directory)
        return Fail(error, "not a directory", 0);
    RemoveStaleTempFiles(directory);
    TempFile probe;
    if (!CreateTempFile(directory, &probe))
        return Fail(error, "cannot create a file in it", errno);
    DiscardTemp(&probe);
    return true;
}

bool WriteBackupCopy(const char* directory, const char* path, const FileFacts& facts, const Content& content,
                     char** copyPath, FileError* error)
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

    // A copy is a copy even where the owner or an attribute cannot be given to it.
    TempFile temp;
    if (!WriteTemp(directory, content, facts, path, false, &temp, error)) {
        free(candidate);
        error->what = "cannot write the backup copy";
        return false;
    }
    bool published = false;
    for (int suffix = 0; !published && suffix <= kMaxBackupSuffix; ++suffix) {
        if (suffix == 0)
            snprintf(candidate, capacity, "%s%s%s", directory, needsSeparator ? "/" : "", name);
        else
            snprintf(candidate, capacity, "%s%s%s.%d", directory, needsSeparator ? "/" : "", name, suffix);
        published = PublishTemp(&temp, candidate);
        if (!published && errno != EEXIST) {
            int publishErrno = errno;
            DiscardTemp(&temp);
            free(candidate);
            return Fail(error, "cannot name the backup copy", publishErrno);
        }
    }
    if (!published) {
        DiscardTemp(&temp);
        free(candidate);
        return Fail(error, "cannot name the backup copy: 1000 copies of this name exist", 0);
    }
    *copyPath = candidate;
    return true;
}
