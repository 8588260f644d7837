#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kTempPrefix[] = ".clipsum-tmp-";
constexpr std::size_t kTempPrefixLength = sizeof kTempPrefix - 1;
constexpr std::size_t kTempUniqueLength = 6;
// Longer than any process number, so that a name that does not fit is no temp of ours.
constexpr std::size_t kMaxPidDigits = 10;
constexpr unsigned long kMaxPid = 0x7FFFFFFF;
// A temporary file this old is stale even when a process of its number runs.
constexpr long long kStaleSeconds = 24 * 60 * 60;

bool Fail(FileError* error, const char* what, int code)
{
    error->what = what;
    error->code = code;
    return false;
}

} // namespace

char* JoinPath(const char* directory, const char* name)
{
    const std::size_t directoryLength = strlen(directory);
    const bool needsSeparator = directoryLength != 0 && DirectoryLength(directory) != directoryLength;
    const std::size_t nameLength = strlen(name);
    char* path = static_cast<char*>(malloc(directoryLength + 1 + nameLength + 1));
    if (!path)
        return nullptr;
    memcpy(path, directory, directoryLength);
    std::size_t at = directoryLength;
    if (needsSeparator)
        path[at++] = '/';
    memcpy(path + at, name, nameLength + 1);
    return path;
}

namespace {

// The process number in a name of the form ".clipsum-tmp-PID-XXXXXX", or 0
// when name is not one of ours.
unsigned long TempNameProcess(const char* name)
{
    if (strncmp(name, kTempPrefix, kTempPrefixLength) != 0)
        return 0;
    const char* digits = name + kTempPrefixLength;
    std::size_t digitCount = 0;
    unsigned long pid = 0;
    while (digits[digitCount] >= '0' && digits[digitCount] <= '9' && digitCount < kMaxPidDigits && pid <= kMaxPid)
        pid = pid * 10 + static_cast<unsigned long>(digits[digitCount++] - '0');
    const char* unique = digits + digitCount + 1;
    if (digitCount == 0 || pid > kMaxPid || digits[digitCount] != '-' || strlen(unique) != kTempUniqueLength)
        return 0;
    for (std::size_t i = 0; i < kTempUniqueLength; ++i) {
        char c = unique[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return 0;
    }
    return pid;
}

// A fresh name template for a temporary file of this process in directory.
char* TempNameTemplate(const char* directory, unsigned long pid)
{
    char name[sizeof kTempPrefix + kMaxPidDigits + 1 + kTempUniqueLength + 1];
    snprintf(name, sizeof name, "%s%lu-XXXXXX", kTempPrefix, pid);
    return JoinPath(directory, name);
}

} // namespace

bool AddName(NameList* list, const char* name, ListedEntry listed)
{
    if (list->count == list->capacity) {
        std::size_t capacity = list->capacity ? list->capacity * 2 : 64;
        if (capacity > SIZE_MAX / sizeof(char*))
            return false;
        char** grown = static_cast<char**>(realloc(list->names, capacity * sizeof(char*)));
        if (!grown)
            return false;
        list->names = grown;
        auto* grownListed = static_cast<ListedEntry*>(realloc(list->listed, capacity * sizeof(ListedEntry)));
        if (!grownListed)
            return false;
        list->listed = grownListed;
        list->capacity = capacity;
    }
    std::size_t length = strlen(name);
    char* copy = static_cast<char*>(malloc(length + 1));
    if (!copy)
        return false;
    memcpy(copy, name, length + 1);
    list->listed[list->count] = listed;
    list->names[list->count++] = copy;
    return true;
}

namespace {

struct ListedName {
    char* name;
    ListedEntry listed;
};

int CompareNames(const void* a, const void* b)
{
    return strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

} // namespace

namespace {

void CloseTemp(TempFile* temp)
{
    if (temp->file)
        fclose(temp->file);
    temp->file = nullptr;
}

void FreeTemp(TempFile* temp)
{
    free(temp->name);
    free(temp->directory);
    temp->name = nullptr;
    temp->directory = nullptr;
}

} // namespace

void SortNames(NameList* list)
{
    if (list->count < 2)
        return;
    auto* pairs = static_cast<ListedName*>(malloc(list->count * sizeof(ListedName)));
    if (!pairs) {
        // Short of memory the order still holds; the entries are then looked at again.
        qsort(list->names, list->count, sizeof(char*), CompareNames);
        for (std::size_t i = 0; i < list->count; ++i)
            list->listed[i] = ListedEntry{ListedKind::Unknown, 0};
        return;
    }
    for (std::size_t i = 0; i < list->count; ++i)
        pairs[i] = ListedName{list->names[i], list->listed[i]};
    std::sort(pairs, pairs + list->count,
              [](const ListedName& a, const ListedName& b) { return strcmp(a.name, b.name) < 0; });
    for (std::size_t i = 0; i < list->count; ++i) {
        list->names[i] = pairs[i].name;
        list->listed[i] = pairs[i].listed;
    }
    free(pairs);
}

void FreeNames(NameList* list)
{
    for (std::size_t i = 0; i < list->count; ++i)
        free(list->names[i]);
    free(list->names);
    free(list->listed);
    list->names = nullptr;
    list->listed = nullptr;
    list->count = 0;
    list->capacity = 0;
}

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

namespace {

constexpr unsigned long long kFileTimeTicksPerSecond = 10000000;
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

int ErrnoFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

unsigned long long Ticks(FILETIME time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME FromTicks(unsigned long long ticks)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

bool ProcessIsGone(unsigned long pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return GetLastError() == ERROR_INVALID_PARAMETER;
    bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

} // namespace

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

FILE* OpenRegularFile(const char* path, FileFacts* facts)
{
    facts->kind = FileKind::Other;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        facts->kind = FileKind::Directory;
        errno = 0;
        return nullptr;
    }
    FILE* file = fopen(path, "rb");
    if (!file)
        return nullptr;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    DWORD type = GetFileType(handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (type != FILE_TYPE_DISK) {
        fclose(file);
        facts->kind = type == FILE_TYPE_PIPE ? FileKind::NamedPipe : FileKind::Device;
        errno = 0;
        return nullptr;
    }
    if (!GetFileInformationByHandle(handle, &info)) {
        errno = ErrnoFromWin32(GetLastError());
        fclose(file);
        return nullptr;
    }
    facts->kind = FileKind::Regular;
    facts->attributes = info.dwFileAttributes;
    facts->readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    facts->size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts->accessTime = Ticks(info.ftLastAccessTime);
    facts->writeTime = Ticks(info.ftLastWriteTime);
    return file;
}

// The look before opening only tells a folder, which the listing has told.
FILE* OpenListedRegularFile(const char* path, FileFacts* facts)
{
    return OpenRegularFile(path, facts);
}

char* ResolveLinks(const char* path)
{
    return _strdup(path);
}

bool CreateTempFile(const char* directory, TempFile* temp)
{
    temp->file = nullptr;
    temp->directory = _strdup(directory);
    temp->name = TempNameTemplate(directory, static_cast<unsigned long>(_getpid()));
    int fd = temp->name && temp->directory ? mkstemp(temp->name) : -1;
    if (fd < 0) {
        int savedErrno = temp->name && temp->directory ? errno : ENOMEM;
        FreeTemp(temp);
        errno = savedErrno;
        return false;
    }
    _setmode(fd, _O_BINARY);
    temp->file = _fdopen(fd, "wb");
    if (!temp->file) {
        _close(fd);
        DiscardTemp(temp);
        return false;
    }
    return true;
}

bool CopyFacts(TempFile* temp, const FileFacts& facts, const char*, bool strict, FileError* error)
{
    FILETIME access = FromTicks(facts.accessTime);
    FILETIME write = FromTicks(facts.writeTime);
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(temp->file)));
    if (fflush(temp->file) == 0 && SetFileTime(handle, nullptr, &access, &write))
        return true;
    return !strict || Fail(error, "cannot give the new file the original's times", ErrnoFromWin32(GetLastError()));
}

bool FlushTemp(TempFile* temp)
{
    return fflush(temp->file) == 0 && _commit(_fileno(temp->file)) == 0;
}

bool PublishTemp(TempFile* temp, const char* path)
{
    CloseTemp(temp);
    if (!MoveFileExA(temp->name, path, MOVEFILE_WRITE_THROUGH)) {
        errno = ErrnoFromWin32(GetLastError());
        return false;
    }
    FreeTemp(temp);
    return true;
}

// MoveFileEx refuses to replace a read-only file: the attribute is lifted for
// the move and given to the new file after it.
bool ReplaceWithTemp(TempFile* temp, const char* target, const FileFacts& facts)
{
    CloseTemp(temp);
    DWORD kept = facts.attributes & kKeptAttributes;
    SetFileAttributesA(temp->name, (kept & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_ARCHIVE);
    if (facts.readOnly && !SetFileAttributesA(target, facts.attributes & ~FILE_ATTRIBUTE_READONLY)) {
        errno = ErrnoFromWin32(GetLastError());
        return false;
    }
    if (!MoveFileExA(temp->name, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        errno = ErrnoFromWin32(GetLastError());
        if (facts.readOnly)
            SetFileAttributesA(target, facts.attributes);
        return false;
    }
    if (facts.readOnly)
        SetFileAttributesA(target, kept | FILE_ATTRIBUTE_ARCHIVE);
    FreeTemp(temp);
    return true;
}

void DiscardTemp(TempFile* temp)
{
    CloseTemp(temp);
    if (temp->name)
        DeleteFileA(temp->name);
    FreeTemp(temp);
}

void RemoveStaleTempFiles(const char* directory)
{
    char pattern[sizeof kTempPrefix + 1];
    snprintf(pattern, sizeof pattern, "%s*", kTempPrefix);
    char* search = JoinPath(directory, pattern);
    if (!search)
        return;
    WIN32_FIND_DATAA found;
    HANDLE finder = FindFirstFileA(search, &found);
    free(search);
    if (finder == INVALID_HANDLE_VALUE)
        return;
    FILETIME nowTime;
    GetSystemTimeAsFileTime(&nowTime);
    unsigned long long now = Ticks(nowTime);
    unsigned long self = static_cast<unsigned long>(_getpid());
    do {
        unsigned long pid = TempNameProcess(found.cFileName);
        if (pid == 0 || pid == self || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        unsigned long long created = Ticks(found.ftCreationTime);
        bool old = now > created && (now - created) / kFileTimeTicksPerSecond > kStaleSeconds;
        if (old || ProcessIsGone(pid)) {
            char* stale = JoinPath(directory, found.cFileName);
            if (stale)
                DeleteFileA(stale);
            free(stale);
        }
    } while (FindNextFileA(finder, &found));
    FindClose(finder);
}

bool ListDirectory(const char* path, NameList* names, FileError* error)
{
    char* search = JoinPath(path, "*");
    if (!search)
        return Fail(error, "not enough memory to list the folder", ENOMEM);
    WIN32_FIND_DATAA found;
    HANDLE finder = FindFirstFileA(search, &found);
    free(search);
    if (finder == INVALID_HANDLE_VALUE)
        return Fail(error, "cannot list the folder", ErrnoFromWin32(GetLastError()));
    bool listed = true;
    do {
        // A reparse point (a link) is looked at on its own.
        const ListedKind kind = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ListedKind::Unknown
                                : (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)   ? ListedKind::Directory
                                                                                        : ListedKind::Regular;
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0 &&
            !AddName(names, found.cFileName, ListedEntry{kind, 0}))
            listed = Fail(error, "not enough memory to list the folder", ENOMEM);
    } while (listed && FindNextFileA(finder, &found));
    FindClose(finder);
    SortNames(names);
    return listed;
}

bool LookAt(const char* path, EntryFacts* facts)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errno = ErrnoFromWin32(GetLastError());
        return false;
    }
    facts->link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts->kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory : FileKind::Regular;
    return true;
}

namespace {

bool HasWildcard(const char* argument)
{
    for (std::size_t i = 0; argument[i] != '\0'; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(argument[i])) && argument[i + 1] != '\0')
            ++i;
        else if (argument[i] == '*' || argument[i] == '?')
            return true;
    }
    return false;
}

// The files and folders a pattern names, sorted; false only when memory runs out.
bool ExpandPattern(const char* pattern, NameList* files)
{
    std::size_t directoryLength = DirectoryLength(pattern);
    NameList matches{};
    WIN32_FIND_DATAA found;
    HANDLE finder = FindFirstFileA(pattern, &found);
    if (finder == INVALID_HANDLE_VALUE)
        return AddName(files, pattern);
    bool expanded = true;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            expanded = AddName(&matches, found.cFileName);
    } while (expanded && FindNextFileA(finder, &found));
    FindClose(finder);
    SortNames(&matches);
    for (std::size_t i = 0; expanded && i < matches.count; ++i) {
        std::size_t size = directoryLength + strlen(matches.names[i]) + 1;
        char* path = static_cast<char*>(malloc(size));
        expanded = path != nullptr;
        if (path) {
            memcpy(path, pattern, directoryLength);
            strcpy(path + directoryLength, matches.names[i]);
            expanded = AddName(files, path);
            free(path);
        }
    }
    FreeNames(&matches);
    return expanded;
}

} // namespace

bool ExpandArguments(int argc, char** argv, int first, NameList* files)
{
    for (int i = first; i < argc; ++i) {
        if (!argv[i])
            continue;
        if (!(HasWildcard(argv[i]) ? ExpandPattern(argv[i], files) : AddName(files, argv[i])))
            return false;
    }
    return true;
}

bool IsTerminal(FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

char* AbsolutePath(const char* path)
{
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        errno = ErrnoFromWin32(GetLastError());
        return nullptr;
    }
    return _fullpath(nullptr, path, 0);
}

void WriteReadableText(FILE* stream, const char* utf8)
{
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    wchar_t* wide = wideLength > 0 ? static_cast<wchar_t*>(malloc(sizeof(wchar_t) * wideLength)) : nullptr;
    if (!wide || MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, wideLength) <= 0) {
        free(wide);
        fputs(utf8, stream);
        return;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD consoleMode = 0;
    DWORD written = 0;
    // A console shows every character written as UTF-16; a file or pipe gets the console's code page.
    if (GetConsoleMode(handle, &consoleMode)) {
        fflush(stream);
        WriteConsoleW(handle, wide, static_cast<DWORD>(wideLength - 1), &written, nullptr);
        free(wide);
        return;
    }
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0)
        codePage = GetACP();
    int length = WideCharToMultiByte(codePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    char* text = length > 0 ? static_cast<char*>(malloc(static_cast<std::size_t>(length))) : nullptr;
    if (text && WideCharToMultiByte(codePage, 0, wide, -1, text, length, nullptr, nullptr) > 0)
        fputs(text, stream);
    free(text);
    free(wide);
}

void PathAsUtf8(const char* path, char* out, std::size_t outSize)
{
    out[0] = '\0';
    int wideLength = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    wchar_t* wide = wideLength > 0 ? static_cast<wchar_t*>(malloc(sizeof(wchar_t) * wideLength)) : nullptr;
    if (wide && MultiByteToWideChar(CP_ACP, 0, path, -1, wide, wideLength) > 0) {
        // Whole characters only: shorten the wide text until it fits.
        int length = wideLength - 1;
        while (length > 0 && WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr) >=
                                 static_cast<int>(outSize))
            --length;
        int written = WideCharToMultiByte(CP_UTF8, 0, wide, length, out, static_cast<int>(outSize) - 1, nullptr, nullptr);
        out[written > 0 ? written : 0] = '\0';
    }
    free(wide);
}

bool SeekFile(FILE* file, unsigned long long offset)
{
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}

bool ReadFileStart(FILE* file, char* out, std::size_t count, std::size_t* got)
{
    *got = fread(out, 1, count, file);
    if (ferror(file)) {
        errno = EIO;
        return false;
    }
    return SeekFile(file, 0);
}

bool FileUnchanged(FILE* file, const FileFacts& facts)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    unsigned long long size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return size == facts.size && Ticks(info.ftLastWriteTime) == facts.writeTime;
}

bool PathUnchanged(const char* path, const FileFacts& facts)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return size == facts.size && Ticks(data.ftLastWriteTime) == facts.writeTime;
}

bool IdentifyFile(const char* path, FileIdentity* identity)
{
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (known) {
        identity->volume = info.dwVolumeSerialNumber;
        identity->index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    return known;
}

long long CurrentTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    // From 1601 in 100 ns ticks to 1970 in seconds.
    return static_cast<long long>(Ticks(now) / kFileTimeTicksPerSecond) - 11644473600LL;
}

unsigned long long MonotonicMilliseconds()
{
    return GetTickCount64();
}

#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace {

// The kernel's own bounds: the list of names and each value fit in 64 KiB.
constexpr std::size_t kMaxAttributeBytes = 64 * 1024;
constexpr int kMaxNameAttempts = 1000;

FileKind KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FileKind::Regular;
    if (S_ISDIR(mode))
        return FileKind::Directory;
    if (S_ISFIFO(mode))
        return FileKind::NamedPipe;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return FileKind::Device;
    return FileKind::Other;
}

bool ProcessIsGone(unsigned long pid)
{
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// A rename or a new name is durable only once the directory that holds it is synced.
void SyncDirectory(const char* directory)
{
    int fd = open(directory[0] ? directory : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

bool CopyOwnerAndMode(int fd, const struct stat& original, bool strict, FileError* error)
{
    struct stat current;
    if (fstat(fd, &current) != 0)
        return !strict || Fail(error, "cannot examine the new file", errno);
    // A change of owner clears the set-user-ID and set-group-ID bits: the mode comes after it.
    if ((current.st_uid != original.st_uid || current.st_gid != original.st_gid) &&
        fchown(fd, original.st_uid, original.st_gid) != 0 && strict)
        return Fail(error, "cannot give the new file the original's owner and group", errno);
    if (fchmod(fd, original.st_mode & 07777) != 0 && strict)
        return Fail(error, "cannot give the new file the original's permissions", errno);
    return true;
}

#ifdef __linux__
bool CopyExtendedAttributes(int fd, const char* sourcePath, bool strict, FileError* error)
{
    ssize_t listLength = listxattr(sourcePath, nullptr, 0);
    if (listLength == 0 || (listLength < 0 && errno == ENOTSUP))
        return true;
    if (listLength < 0)
        return !strict || Fail(error, "cannot list the original's extended attributes", errno);
    if (static_cast<std::size_t>(listLength) > kMaxAttributeBytes)
        return !strict || Fail(error, "the original's extended attributes are too many to copy", 0);
    char* names = static_cast<char*>(malloc(kMaxAttributeBytes));
    char* value = static_cast<char*>(malloc(2 * kMaxAttributeBytes));
    char* present = value ? value + kMaxAttributeBytes : nullptr;
    bool copied = names && value;
    if (!copied)
        Fail(error, "not enough memory to copy the extended attributes", 0);
    if (copied)
        listLength = listxattr(sourcePath, names, kMaxAttributeBytes);
    if (copied && (listLength < 0 || (listLength > 0 && names[listLength - 1] != '\0')))
        copied = Fail(error, "cannot list the original's extended attributes", listLength < 0 ? errno : 0);
    for (ssize_t at = 0; copied && at < listLength; at += static_cast<ssize_t>(strlen(names + at)) + 1) {
        const char* name = names + at;
        ssize_t valueLength = getxattr(sourcePath, name, value, kMaxAttributeBytes);
        if (valueLength < 0 && errno == ENODATA)
            continue; // removed since it was listed
        // The new file may have it already (a security label given by the directory, say),
        // and setting it may be refused even then.
        ssize_t presentLength = valueLength < 0 ? -1 : fgetxattr(fd, name, present, kMaxAttributeBytes);
        if (valueLength < 0)
            copied = Fail(error, "cannot read an extended attribute of the original", errno);
        else if (presentLength == valueLength && memcmp(present, value, static_cast<std::size_t>(valueLength)) == 0)
            continue;
        else if (fsetxattr(fd, name, value, static_cast<std::size_t>(valueLength), 0) != 0 && strict)
            copied = Fail(error, "cannot copy an extended attribute to the new file", errno);
    }
    free(names);
    free(value);
    return copied || !strict;
}
#endif

} // namespace

bool SetStdoutBinary()
{
    return true;
}

std::size_t DirectoryLength(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash ? static_cast<std::size_t>(slash - path) + 1 : 0;
}

// The path is looked at before it is opened, so that a device is never opened;
// the open descriptor is looked at again, in case the path changed between.
FILE* OpenRegularFile(const char* path, FileFacts* facts)
{
    if (stat(path, &facts->status) != 0)
        return nullptr;
    facts->kind = KindOf(facts->status.st_mode);
    if (facts->kind != FileKind::Regular) {
        errno = 0;
        return nullptr;
    }
    return OpenListedRegularFile(path, facts);
}

FILE* OpenListedRegularFile(const char* path, FileFacts* facts)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    if (fstat(fd, &facts->status) != 0) {
        int savedErrno = errno;
        close(fd);
        errno = savedErrno;
        return nullptr;
    }
    facts->kind = KindOf(facts->status.st_mode);
    facts->readOnly = (facts->status.st_mode & S_IWUSR) == 0;
    facts->size = static_cast<unsigned long long>(facts->status.st_size);
    FILE* file = facts->kind == FileKind::Regular ? fdopen(fd, "rb") : nullptr;
    if (!file) {
        int savedErrno = facts->kind == FileKind::Regular ? errno : 0;
        close(fd);
        errno = savedErrno;
    }
    return file;
}

char* ResolveLinks(const char* path)
{
    return realpath(path, nullptr);
}

bool CreateTempFile(const char* directory, TempFile* temp)
{
    temp->file = nullptr;
    temp->name = nullptr;
    temp->directory = strdup(directory);
    if (!temp->directory) {
        errno = ENOMEM;
        return false;
    }
    int fd = -1;
#ifdef O_TMPFILE
    // Naming it later goes through /proc; without /proc it gets a name from the start.
    if (access("/proc/self/fd", X_OK) == 0) {
        fd = open(directory[0] ? directory : ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            int savedErrno = errno;
            FreeTemp(temp);
            errno = savedErrno;
            return false;
        }
    }
#endif
    if (fd < 0) {
        temp->name = TempNameTemplate(directory, static_cast<unsigned long>(getpid()));
        fd = temp->name ? mkostemp(temp->name, O_CLOEXEC) : -1;
        if (fd < 0) {
            int savedErrno = temp->name ? errno : ENOMEM;
            FreeTemp(temp);
            errno = savedErrno;
            return false;
        }
    }
    temp->file = fdopen(fd, "wb");
    if (!temp->file) {
        int savedErrno = errno;
        close(fd);
        DiscardTemp(temp);
        errno = savedErrno;
        return false;
    }
    return true;
}

bool CopyFacts(TempFile* temp, const FileFacts& facts, const char* sourcePath, bool strict, FileError* error)
{
    if (fflush(temp->file) != 0)
        return Fail(error, "cannot write the new file", errno);
    int fd = fileno(temp->file);
    if (!CopyOwnerAndMode(fd, facts.status, strict, error))
        return false;
#ifdef __linux__
    if (!CopyExtendedAttributes(fd, sourcePath, strict, error))
        return false;
#else
    (void)sourcePath;
#endif
    const struct timespec times[2] = {facts.status.st_atim, facts.status.st_mtim};
    if (futimens(fd, times) != 0 && strict)
        return Fail(error, "cannot give the new file the original's times", errno);
    return true;
}

bool FlushTemp(TempFile* temp)
{
    return fflush(temp->file) == 0 && fsync(fileno(temp->file)) == 0;
}

bool PublishTemp(TempFile* temp, const char* path)
{
    if (temp->name) {
        // link(2) fails on an existing name where rename(2) would replace it.
        if (link(temp->name, path) != 0)
            return false;
        unlink(temp->name);
    } else {
        char procPath[64];
        snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fileno(temp->file));
        if (linkat(AT_FDCWD, procPath, AT_FDCWD, path, AT_SYMLINK_FOLLOW) != 0)
            return false;
    }
    SyncDirectory(temp->directory);
    CloseTemp(temp);
    FreeTemp(temp);
    return true;
}

// rename(2) cannot take a file without a name: an unnamed one first gets a
// temporary name, for as short a time as a link and a rename take.
bool ReplaceWithTemp(TempFile* temp, const char* target, const FileFacts&)
{
    for (int attempt = 0; !temp->name && attempt < kMaxNameAttempts; ++attempt) {
        char* name = TempNameTemplate(temp->directory, static_cast<unsigned long>(getpid()));
        if (!name) {
            errno = ENOMEM;
            return false;
        }
        snprintf(name + strlen(name) - kTempUniqueLength, kTempUniqueLength + 1, "%06d", attempt);
        char procPath[64];
        snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fileno(temp->file));
        if (linkat(AT_FDCWD, procPath, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0) {
            temp->name = name;
        } else {
            int savedErrno = errno;
            free(name);
            if (savedErrno != EEXIST) {
                errno = savedErrno;
                return false;
            }
        }
    }
    if (!temp->name) {
        errno = EEXIST;
        return false;
    }
    if (rename(temp->name, target) != 0)
        return false;
    SyncDirectory(temp->directory);
    CloseTemp(temp);
    FreeTemp(temp);
    return true;
}

void DiscardTemp(TempFile* temp)
{
    CloseTemp(temp);
    if (temp->name)
        unlink(temp->name);
    FreeTemp(temp);
}

void RemoveStaleTempFiles(const char* directory)
{
    DIR* listing = opendir(directory[0] ? directory : ".");
    if (!listing)
        return;
    unsigned long self = static_cast<unsigned long>(getpid());
    time_t now = time(nullptr);
    while (const struct dirent* entry = readdir(listing)) {
        unsigned long pid = TempNameProcess(entry->d_name);
        struct stat info;
        if (pid == 0 || pid == self || fstatat(dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        // ctime, not mtime: the original's modification time is copied onto the file.
        bool old = now - info.st_ctime > kStaleSeconds;
        if (old || ProcessIsGone(pid))
            unlinkat(dirfd(listing), entry->d_name, 0);
    }
    closedir(listing);
}

bool ListDirectory(const char* path, NameList* names, FileError* error)
{
    DIR* listing = opendir(path[0] ? path : ".");
    if (!listing)
        return Fail(error, "cannot list the folder", errno);
    // The folder's device and each entry's inode tell one file from another
    // without a look at each.
    struct stat folder;
    const bool onVolume = fstat(dirfd(listing), &folder) == 0;
    names->volume = onVolume ? static_cast<unsigned long long>(folder.st_dev) : 0;
    bool listed = true;
    errno = 0;
    while (const struct dirent* entry = readdir(listing)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        const ListedKind kind = entry->d_type == DT_REG   ? ListedKind::Regular
                                : entry->d_type == DT_DIR ? ListedKind::Directory
                                                          : ListedKind::Unknown;
        const unsigned long long index = onVolume ? static_cast<unsigned long long>(entry->d_ino) : 0;
        if (!AddName(names, entry->d_name, ListedEntry{kind, index})) {
            listed = Fail(error, "not enough memory to list the folder", ENOMEM);
            break;
        }
        errno = 0;
    }
    if (listed && errno != 0)
        listed = Fail(error, "cannot list the folder", errno);
    closedir(listing);
    SortNames(names);
    return listed;
}

bool LookAt(const char* path, EntryFacts* facts)
{
    struct stat info;
    if (lstat(path, &info) != 0)
        return false;
    facts->link = S_ISLNK(info.st_mode);
    if (facts->link && stat(path, &info) != 0) {
        facts->kind = FileKind::Other; // a dangling link
        return true;
    }
    facts->kind = KindOf(info.st_mode);
    return true;
}

bool ExpandArguments(int argc, char** argv, int first, NameList* files)
{
    for (int i = first; i < argc; ++i) {
        if (argv[i] && !AddName(files, argv[i]))
            return false;
    }
    return true;
}

bool IsTerminal(FILE* stream)
{
    return isatty(fileno(stream)) != 0;
}

char* AbsolutePath(const char* path)
{
    return realpath(path, nullptr);
}

void WriteReadableText(FILE* stream, const char* utf8)
{
    fputs(utf8, stream);
}

void PathAsUtf8(const char* path, char* out, std::size_t outSize)
{
    snprintf(out, outSize, "%s", path);
}

bool SeekFile(FILE* file, unsigned long long offset)
{
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

// pread leaves the position alone: the file is read from its start afterwards
// without a seek, and the stream's buffer (and its own look at the file) is never used.
bool ReadFileStart(FILE* file, char* out, std::size_t count, std::size_t* got)
{
    *got = 0;
    while (*got < count) {
        const ssize_t read = pread(fileno(file), out + *got, count - *got, static_cast<off_t>(*got));
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            return false;
        if (read == 0)
            break;
        *got += static_cast<std::size_t>(read);
    }
    return true;
}

bool FileUnchanged(FILE* file, const FileFacts& facts)
{
    struct stat now;
    return fstat(fileno(file), &now) == 0 && now.st_size == facts.status.st_size &&
           now.st_mtim.tv_sec == facts.status.st_mtim.tv_sec && now.st_mtim.tv_nsec == facts.status.st_mtim.tv_nsec &&
           now.st_ino == facts.status.st_ino;
}

bool PathUnchanged(const char* path, const FileFacts& facts)
{
    struct stat now;
    return stat(path, &now) == 0 && now.st_size == facts.status.st_size &&
           now.st_mtim.tv_sec == facts.status.st_mtim.tv_sec && now.st_mtim.tv_nsec == facts.status.st_mtim.tv_nsec &&
           now.st_ino == facts.status.st_ino;
}

bool IdentifyFile(const char* path, FileIdentity* identity)
{
    struct stat info;
    if (stat(path, &info) != 0)
        return false;
    identity->volume = static_cast<unsigned long long>(info.st_dev);
    identity->index = static_cast<unsigned long long>(info.st_ino);
    return true;
}

long long CurrentTime()
{
    return static_cast<long long>(time(nullptr));
}

unsigned long long MonotonicMilliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000 + static_cast<unsigned long long>(now.tv_nsec) / 1000000;
}
#endif
