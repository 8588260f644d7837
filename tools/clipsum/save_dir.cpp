#include "save_dir.h"

#include "message_file.h"
#include "run.h"

#include "mime/attachment_name.h"
#include "mime/body_decoder.h"
#include "mime/line_list.h"
#include "mime/mail_date.h"
#include "mime/strip_message.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Decoded bytes are written in pieces of this size (more for a longer line).
constexpr std::size_t kOutputChunk = 256 * 1024;
constexpr std::size_t kNumberedNameSize = kMaxAttachmentNameBytes + 16;

bool Fail(FileError* error, const char* what, int code)
{
    *error = FileError{what, code};
    return false;
}

#ifdef _WIN32

// The longest folder path taken, in UTF-16 units.
constexpr std::size_t kMaxPrefixUnits = 2048;

int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return EIO;
    }
}

using OutFile = HANDLE;

// The full path of name in the folder, in UTF-16 (the name is UTF-8). Null
// with errno set when it cannot be converted or memory runs out.
wchar_t* PathIn(const SaveDir& dir, const char* name)
{
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
    if (units <= 0) {
        errno = EILSEQ;
        return nullptr;
    }
    auto* path = static_cast<wchar_t*>(malloc((dir.prefixLength + static_cast<std::size_t>(units)) * sizeof(wchar_t)));
    if (!path) {
        errno = ENOMEM;
        return nullptr;
    }
    memcpy(path, dir.prefix, dir.prefixLength * sizeof(wchar_t));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, path + dir.prefixLength, units);
    return path;
}

// CREATE_NEW opens nothing that is there, a link included.
bool CreateIn(const SaveDir& dir, const char* name, OutFile* file)
{
    wchar_t* path = PathIn(dir, name);
    if (!path)
        return false;
    *file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    free(path);
    if (*file == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(error);
        return false;
    }
    return true;
}

bool WriteOut(OutFile file, const char* data, std::size_t length)
{
    while (length > 0) {
        const DWORD piece = length > kOutputChunk ? static_cast<DWORD>(kOutputChunk) : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(file, data, piece, &written, nullptr) || written != piece) {
            errno = ErrnoOf(GetLastError());
            return false;
        }
        data += piece;
        length -= piece;
    }
    return true;
}

// Dates and closes the file; false with errno set. FlushIn forces it to the disk.
bool FinishOut(OutFile file, const MessageOutcome& outcome)
{
    bool done = true;
    unsigned long long ticks = 0;
    // A date no file can have leaves the time of writing.
    if (outcome.dated && FileTimeTicks(outcome.date, &ticks)) {
        FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        done = SetFileTime(file, nullptr, &time, &time) != 0;
    }
    const DWORD error = GetLastError();
    done = CloseHandle(file) && done;
    if (!done)
        errno = ErrnoOf(error);
    return done;
}

bool FlushIn(const SaveDir& dir, const char* name)
{
    wchar_t* path = PathIn(dir, name);
    HANDLE file = path ? CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                       : INVALID_HANDLE_VALUE;
    free(path);
    bool done = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        done = CloseHandle(file) && done;
    if (!done)
        errno = ErrnoOf(error);
    return done;
}

void AbandonOut(OutFile file)
{
    CloseHandle(file);
}

bool Exists(const SaveDir& dir, const char* name)
{
    wchar_t* path = PathIn(dir, name);
    const bool exists = path && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
    free(path);
    return exists;
}

void RemoveIn(const SaveDir& dir, const char* name)
{
    wchar_t* path = PathIn(dir, name);
    if (path)
        DeleteFileW(path);
    free(path);
}

// NTFS makes a new name durable with the file's own flush.
bool SyncDir(const SaveDir&)
{
    return true;
}

#else

using OutFile = int;

bool CreateIn(const SaveDir& dir, const char* name, OutFile* file)
{
    // The owner's only, as the mail it comes from; O_EXCL with O_NOFOLLOW
    // never opens what is there, a planted link included.
    *file = openat(dir.fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    return *file >= 0;
}

bool WriteOut(OutFile file, const char* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = write(file, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

bool FinishOut(OutFile file, const MessageOutcome& outcome)
{
    bool done = true;
    if (outcome.dated) {
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(outcome.date);
        times[0].tv_nsec = times[1].tv_nsec = 0;
        done = futimens(file, times) == 0;
    }
    const int error = errno;
    done = close(file) == 0 && done;
    if (!done && errno == 0)
        errno = error;
    return done;
}

// Opened again without following a link: the file this run made under that name.
bool FlushIn(const SaveDir& dir, const char* name)
{
    const int file = openat(dir.fd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    bool done = file >= 0 && fsync(file) == 0;
    const int error = errno;
    if (file >= 0)
        done = close(file) == 0 && done;
    if (!done && errno == 0)
        errno = error;
    return done;
}

void AbandonOut(OutFile file)
{
    close(file);
}

bool Exists(const SaveDir& dir, const char* name)
{
    struct stat status;
    return fstatat(dir.fd, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
}

void RemoveIn(const SaveDir& dir, const char* name)
{
    unlinkat(dir.fd, name, 0);
}

// The new names are durable only once the folder is synced.
bool SyncDir(const SaveDir& dir)
{
    return fsync(dir.fd) == 0;
}

#endif

// The bytes of a body line without its line break.
std::size_t ContentLength(const LineNode& line)
{
    std::size_t length = static_cast<std::size_t>(line.length);
    if (length > 0 && line.text[length - 1] == '\n')
        --length;
    if (length > 0 && line.text[length - 1] == '\r')
        --length;
    return length;
}

bool SaveFailure(MessageOutcome* outcome, const char* reason, int code, const char* name)
{
    outcome->verdict = Verdict::Fail;
    outcome->reason = reason;
    outcome->code = code;
    snprintf(outcome->detail, sizeof outcome->detail, "%s \"%s\"; the message is left unchanged", reason, name);
    return false;
}

} // namespace

#ifdef _WIN32

bool OpenSaveDir(const char* directory, bool dryRun, SaveDir* dir, FileError* error)
{
    *dir = SaveDir{directory, nullptr, 0};
    wchar_t given[kMaxPrefixUnits];
    wchar_t full[kMaxPrefixUnits];
    if (MultiByteToWideChar(CP_ACP, 0, directory, -1, given, static_cast<int>(kMaxPrefixUnits)) <= 0)
        return Fail(error, "cannot use its name", EINVAL);
    // Resolves "." and "..", and turns '/' into '\', which the \\?\ form takes literally.
    const DWORD length = GetFullPathNameW(given, static_cast<DWORD>(kMaxPrefixUnits), full, nullptr);
    if (length == 0 || length >= kMaxPrefixUnits)
        return Fail(error, "cannot use its name", ENAMETOOLONG);
    const DWORD attributes = GetFileAttributesW(full);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Fail(error, "cannot use it", ErrnoOf(GetLastError()));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail(error, "not a directory", 0);
    if (!dryRun && !CheckBackupDirectory(directory, error))
        return false;
    const bool share = full[0] == L'\\' && full[1] == L'\\';
    const wchar_t* prefix = share ? L"\\\\?\\UNC\\" : L"\\\\?\\";
    const wchar_t* rest = share ? full + 2 : full;
    std::size_t restLength = wcslen(rest);
    while (restLength > 0 && rest[restLength - 1] == L'\\')
        --restLength;
    const std::size_t prefixLength = wcslen(prefix);
    dir->prefix = static_cast<wchar_t*>(malloc((prefixLength + restLength + 2) * sizeof(wchar_t)));
    if (!dir->prefix)
        return Fail(error, "not enough memory", ENOMEM);
    memcpy(dir->prefix, prefix, prefixLength * sizeof(wchar_t));
    memcpy(dir->prefix + prefixLength, rest, restLength * sizeof(wchar_t));
    dir->prefixLength = prefixLength + restLength + 1;
    dir->prefix[dir->prefixLength - 1] = L'\\';
    dir->prefix[dir->prefixLength] = L'\0';
    return true;
}

void CloseSaveDir(SaveDir* dir)
{
    free(dir->prefix);
    dir->prefix = nullptr;
}

#else

bool OpenSaveDir(const char* directory, bool dryRun, SaveDir* dir, FileError* error)
{
    *dir = SaveDir{directory, open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir->fd < 0)
        return Fail(error, errno == ENOTDIR ? "not a directory" : "cannot use it", errno == ENOTDIR ? 0 : errno);
    if (!dryRun && !CheckBackupDirectory(directory, error)) {
        CloseSaveDir(dir);
        return false;
    }
    return true;
}

void CloseSaveDir(SaveDir* dir)
{
    if (dir->fd >= 0)
        close(dir->fd);
    dir->fd = -1;
}

#endif

void FileStem(const char* path, char* out, std::size_t outSize)
{
    char utf8[kMaxAttachmentNameBytes * 4];
    PathAsUtf8(path + DirectoryLength(path), utf8, sizeof utf8);
    char* dot = strrchr(utf8, '.');
    if (dot && dot != utf8)
        *dot = '\0';
    snprintf(out, outSize, "%s", utf8);
}

PartSaver::~PartSaver()
{
    free(names_);
    free(output_);
}

// The names are taken and the files written in the file's turn, so that
// they are numbered as with one job; forcing them to the disk, which takes
// the time, may go on beside the next file's.
bool PartSaver::Save(MessageStripper& stripper, const char* stem, MessageOutcome* outcome)
{
    if (!dryRun_)
        WaitForSavingTurn(run_);
    lastStart_ = namesUsed_;
    for (std::size_t i = 0; i < stripper.RemovedPartCount(); ++i) {
        if (!SavePart(stripper, i, stem, outcome)) {
            UndoLast();
            return false;
        }
    }
    if (dryRun_)
        return true;
    if (passesTurn_)
        PassSavingTurn(run_);
    for (std::size_t at = lastStart_; at < namesUsed_; at += strlen(names_ + at) + 1) {
        if (!FlushIn(*dir_, names_ + at)) {
            SaveFailure(outcome, "cannot write an attachment", errno, names_ + at);
            UndoLast();
            return false;
        }
    }
    if (namesUsed_ > lastStart_ && !SyncDir(*dir_)) {
        SaveFailure(outcome, "cannot force the saved attachments to the disk", errno, dir_->path);
        UndoLast();
        return false;
    }
    return true;
}

bool PartSaver::SavePart(MessageStripper& stripper, std::size_t index, const char* stem, MessageOutcome* outcome)
{
    const RemovedPart& part = stripper.RemovedPartAt(index);
    char name[kMaxAttachmentNameBytes + 1];
    char numbered[kNumberedNameSize];
    if (AttachmentFileName(part, stem, name, sizeof name) == 0)
        return SaveFailure(outcome, "no file name can be made for an attachment", 0, part.mediaType);
    const char* tried = name;
    OutFile file{};
    bool created = false;
    for (unsigned number = 1; number <= kMaxNameNumber && !created; ++number) {
        if (number > 1) {
            NumberedFileName(name, number, numbered, sizeof numbered);
            tried = numbered;
        }
        if (dryRun_) {
            created = !Taken(tried) && !Exists(*dir_, tried);
        } else if (CreateIn(*dir_, tried, &file)) {
            created = true;
        } else if (errno != EEXIST) {
            return SaveFailure(outcome, "cannot create the file for an attachment", errno, tried);
        }
    }
    if (!created)
        return SaveFailure(outcome, "every name for an attachment is taken, up to 999", 0, name);
    if (!Remember(tried)) {
        if (!dryRun_) {
            AbandonOut(file);
            RemoveIn(*dir_, tried);
        }
        return SaveFailure(outcome, "not enough memory to save an attachment", ENOMEM, tried);
    }

    // The body is decoded line by line, and written in large pieces.
    BodyDecoder decoder(EncodingOfField(part.encodingField));
    std::size_t used = 0;
    bool written = true;
    for (const LineNode* line = part.body ? part.body->head : nullptr; line && written; line = line->next) {
        const std::size_t length = ContentLength(*line);
        const std::size_t most = BodyDecoder::MaxDecodedLength(length);
        if (outputCapacity_ - used < most) {
            written = dryRun_ || WriteOut(file, output_, used);
            used = 0;
            if (written && outputCapacity_ < most) {
                const std::size_t capacity = most > kOutputChunk ? most : kOutputChunk;
                auto* grown = static_cast<char*>(realloc(output_, capacity));
                if (!grown) {
                    errno = ENOMEM;
                    written = false;
                    break;
                }
                output_ = grown;
                outputCapacity_ = capacity;
            }
        }
        if (written)
            used += decoder.DecodeLine(line->text, length, output_ + used);
    }
    if (!dryRun_) {
        written = written && WriteOut(file, output_, used);
        if (!written) {
            const int code = errno;
            AbandonOut(file);
            errno = code;
        } else {
            written = FinishOut(file, *outcome);
        }
    }
    if (!written)
        return SaveFailure(outcome, "cannot write an attachment", errno, tried);
    if (decoder.Broken()) {
        ++outcome->brokenCount;
        if (index < kMaxListedParts)
            outcome->removed[index].broken = true;
    }
    ++outcome->savedCount;
    if (!stripper.SetSavedAs(index, tried))
        return SaveFailure(outcome, "not enough memory to save an attachment", ENOMEM, tried);
    return true;
}

bool PartSaver::Taken(const char* name) const
{
    for (std::size_t at = lastStart_; at < namesUsed_; at += strlen(names_ + at) + 1) {
        if (strcmp(names_ + at, name) == 0)
            return true;
    }
    return false;
}

bool PartSaver::Remember(const char* name)
{
    const std::size_t size = strlen(name) + 1;
    if (namesCapacity_ - namesUsed_ < size) {
        std::size_t capacity = namesCapacity_ ? namesCapacity_ * 2 : 4096;
        while (capacity - namesUsed_ < size)
            capacity *= 2;
        auto* grown = static_cast<char*>(realloc(names_, capacity));
        if (!grown)
            return false;
        names_ = grown;
        namesCapacity_ = capacity;
    }
    memcpy(names_ + namesUsed_, name, size);
    namesUsed_ += size;
    return true;
}

void PartSaver::RemoveFrom(std::size_t start)
{
    if (!dryRun_) {
        for (std::size_t at = start; at < namesUsed_; at += strlen(names_ + at) + 1)
            RemoveIn(*dir_, names_ + at);
        if (namesUsed_ > start)
            SyncDir(*dir_);
    }
    namesUsed_ = start;
    if (lastStart_ > start)
        lastStart_ = start;
}

void PartSaver::UndoLast()
{
    RemoveFrom(lastStart_);
}

void PartSaver::Keep()
{
    namesUsed_ = 0;
    lastStart_ = 0;
}

void PartSaver::Undo()
{
    RemoveFrom(0);
}
